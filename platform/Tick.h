#pragma once
#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32 like the Windows tick
// count; compare ticks by unsigned subtraction only.
std::uint32_t GetTickCount();
