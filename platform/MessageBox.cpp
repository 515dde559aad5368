#include "MessageBox.h"

#include <cstdio>
#include <mutex>

#include "LastError.h"

namespace {
std::mutex handlerMutex;
MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard lock(handlerMutex);
    auto previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

int MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = Handler();
    }
    std::wstring t = text ? text : L"";
    std::wstring c = caption ? caption : L"";
    if (handler)
        return handler(t, c, flags);
    std::fprintf(stderr, "[%s] %s\n", NarrowUtf8(c).c_str(), NarrowUtf8(t).c_str());
    return IDOK;
}
