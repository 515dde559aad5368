#pragma once
// The calling thread's last error: every failing platform call sets it (code and
// text) before it returns, and the error report reads it.
#include <cstdint>
#include <string>

#include "Result.h"

void SetLastError(std::uint32_t code, const std::wstring& text);
// Sets the code and the C library's text for an errno value.
void SetLastErrorFromErrno(int err);
std::uint32_t GetLastError();
std::wstring GetLastErrorText();
// Sets hr and its text as the last error and returns hr: `return Fail(hr, text);`.
HRESULT Fail(HRESULT hr, const std::wstring& text);

// Text for a code when no text was stored with it.
std::wstring FormatSystemMessage(std::uint32_t code);

std::wstring WidenUtf8(const std::string& text);
std::string NarrowUtf8(const std::wstring& text);
