#pragma once
// Text of Windows error codes, for the end of the program's failure messages.

#include <cstdint>
#include <string>

#include "common/win_compat.h"

// The system's message for a Windows (or WinHTTP) error code, trimmed, then
// " (" + the code in unsigned decimal + ")". WinHTTP codes (12000-12999) are
// missing from the system's table; their texts come from winhttp.dll.
// "Nieznany błąd" stands in for a code no table has a message for.
std::wstring WindowsErrorText(std::uint32_t code);

// As WindowsErrorText, with `messageModule` (may be null) as the message table
// consulted for a WinHTTP code that the system's table lacks.
std::wstring WindowsErrorTextFrom(std::uint32_t code, HMODULE messageModule);
