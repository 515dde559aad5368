#pragma once
// Records every message box instead of showing it; installed for the lifetime of
// the recorder object.
#include <mutex>
#include <string>
#include <vector>

#include "MessageBox.h"

struct RecordedMessage {
    std::wstring text;
    std::wstring caption;
    unsigned flags = 0;
    bool operator==(const RecordedMessage& other) const = default;
};

class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<RecordedMessage> Messages() const;
    // Texts only, in order.
    std::vector<std::wstring> Texts() const;
    void Clear();

  private:
    mutable std::mutex mutex_;
    std::vector<RecordedMessage> messages_;
    MessageBoxHandler previous_;
};
