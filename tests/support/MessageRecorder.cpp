#include "MessageRecorder.h"

MessageRecorder::MessageRecorder()
    : previous_(SetMessageBoxHandler(
          [this](const std::wstring& text, const std::wstring& caption, unsigned flags) {
              std::lock_guard lock(mutex_);
              messages_.push_back({text, caption, flags});
              return IDOK;
          })) {}

std::vector<RecordedMessage> MessageRecorder::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::wstring> MessageRecorder::Texts() const {
    std::vector<std::wstring> texts;
    for (const auto& m : Messages())
        texts.push_back(m.text);
    return texts;
}
