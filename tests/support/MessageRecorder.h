#pragma once
// Records every message box instead of showing it, while the recorder lives.
#include <mutex>
#include <string>
#include <vector>

#include "MessageBox.h"

struct RecordedMessage {
    std::wstring text, caption;
    unsigned flags = 0;
};

class MessageRecorder {
  public:
    MessageRecorder();
    ~MessageRecorder() { SetMessageBoxHandler(std::move(previous_)); }

    std::vector<RecordedMessage> Messages() const;
    std::vector<std::wstring> Texts() const;  // in order
    void Clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mutable std::mutex mutex_;  // a load reports from a thread of its own
    std::vector<RecordedMessage> messages_;
    MessageBoxHandler previous_;
};
