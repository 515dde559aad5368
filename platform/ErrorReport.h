#pragma once
// The error report: "<label> failed with error <code>: <text>" in a box captioned
// "Error". The code is *code when given, else the calling thread's last error.
#include <cstdint>

void ShowError(const wchar_t* label, const std::uint32_t* code = nullptr);
