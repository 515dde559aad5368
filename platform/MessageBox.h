#pragma once
// The message-box service. Every message the program shows goes through here with
// its exact text and caption. The program installs a handler that shows a real box
// on the UI thread; tests install a recorder.
#include <cstdint>
#include <functional>
#include <string>

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr int IDOK = 1;

using MessageBoxHandler =
    std::function<int(const std::wstring& text, const std::wstring& caption, unsigned flags)>;

// Installs the handler and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// Shows a box and waits for its answer. Without a handler the text goes to stderr.
int MessageBoxW(const wchar_t* text, const wchar_t* caption, unsigned flags);
