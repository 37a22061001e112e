#pragma once
// patcher.ini saved as UTF-8, with a byte-order mark or (Notepad's default on
// Windows 10 and 11) without one. Windows' own reader takes such a file for
// ANSI text: "[PATCHER]" after a mark would never be found and a non-ASCII
// value would come out garbled. These rules read it as that reader reads any
// other file.

#include <string>
#include <string_view>

// The most of a value that is used, as with a 2048-unit buffer and its NUL.
inline constexpr size_t kIniValueLimit = 2047;

// True when `bytes` begins with the UTF-8 byte-order mark EF BB BF.
bool HasUtf8Bom(std::string_view bytes);

// True when `bytes` are well-formed UTF-8 with at least one non-ASCII
// character: a file without a mark that only UTF-8 reads right. Pure ASCII
// reads the same either way; anything else is ANSI text.
bool IsUtf8BeyondAscii(std::string_view bytes);

// Finds `key` in `section` of the UTF-8 text `text` (after a mark). Section
// and key names match whatever their A-Z letter case and the blanks around
// them; the first matching section and key count. The value is what follows
// the key's first "=", without surrounding blanks and one pair of enclosing
// quotes ("..." or '...'), cut at kIniValueLimit units. Lines that are not
// well-formed UTF-8 are skipped. False when the key is not there.
bool FindIniValue(std::string_view text, const std::wstring& section, const std::wstring& key, std::wstring& value);
