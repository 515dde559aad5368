#include "LastError.h"

#include <cstring>
#include <locale>

namespace {
thread_local std::uint32_t lastCode = 0;
thread_local std::wstring lastText;
}  // namespace

void SetLastError(std::uint32_t code, const std::wstring& text) {
    lastCode = code;
    lastText = text;
}

void SetLastErrorFromErrno(int err) {
    char buffer[256] = {};
    const char* text = strerror_r(err, buffer, sizeof buffer);
    SetLastError(static_cast<std::uint32_t>(err), WidenUtf8(text ? text : ""));
}

std::uint32_t GetLastError() {
    return lastCode;
}

HRESULT Fail(HRESULT hr, const std::wstring& text) {
    SetLastError(static_cast<std::uint32_t>(hr), text);
    return hr;
}

std::wstring GetLastErrorText() {
    if (lastText.empty())
        return FormatSystemMessage(lastCode);
    return lastText;
}

std::wstring FormatSystemMessage(std::uint32_t code) {
    if (code == 0)
        return L"The operation completed successfully.";
    char buffer[256] = {};
    const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    return WidenUtf8(text ? text : "Unknown error");
}

std::wstring WidenUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 0x6 && i + 1 < text.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            len = 2;
        } else if ((c >> 4) == 0xE && i + 2 < text.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
            len = 3;
        } else if ((c >> 3) == 0x1E && i + 3 < text.size()) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(text[i + 2]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(text[i + 3]) & 0x3Fu);
            len = 4;
        }
        out.push_back(static_cast<wchar_t>(cp));
        i += len;
    }
    return out;
}

std::string NarrowUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<char32_t>(wc);
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}
