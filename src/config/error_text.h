#pragma once
// Text of Windows error codes, for the end of the program's failure messages.

#include <cstdint>
#include <string>

// The system's message for a Windows (or WinHTTP) error code, trimmed, then
// " (" + the code in unsigned decimal + ")". "Nieznany błąd" stands in for a
// code the system has no message for.
std::wstring WindowsErrorText(std::uint32_t code);
