#pragma once
// Records every message box instead of showing it, while the recorder lives.
#include <mutex>
#include <string>
#include <vector>

#include "MessageBox.h"

struct RecordedMessage {
    std::wstring text, caption;
    unsigned flags = 0;
    bool operator==(const RecordedMessage& other) const = default;
};

class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder() { SetMessageBoxHandler(std::move(previous_)); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<RecordedMessage> Messages() const;
    std::vector<std::wstring> Texts() const;  // in order
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> messages_;
    MessageBoxHandler previous_;
};
