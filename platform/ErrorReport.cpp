#include "ErrorReport.h"

#include <string>

#include "LastError.h"
#include "MessageBox.h"

void ShowError(const wchar_t* label, const std::uint32_t* code) {
    std::uint32_t value = code ? *code : GetLastError();
    std::wstring text = code ? FormatSystemMessage(value) : GetLastErrorText();
    std::wstring message = std::wstring(label ? label : L"") + L" failed with error " +
                           std::to_wstring(static_cast<std::int32_t>(value)) + L": " + text;
    // The report is built in a 1024-character buffer: an over-long text is cut, not lost.
    if (message.size() > 1023)
        message.resize(1023);
    MessageBoxW(message.c_str(), L"Error", MB_OK);
}
