#pragma once
// Text helpers shared by every module. Inside the program all text is UTF-16;
// UTF-8 appears only in files (the log, the manifest).

#include <string>

// Copy with ASCII A-Z turned into a-z; every other character unchanged.
// Taken by value, so a temporary is lowered in place rather than copied.
std::wstring ToLowerWide(std::wstring text);

// UTF-16 to UTF-8 through the platform conversion. Empty input or a failed
// conversion gives an empty result; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(const std::wstring& text);

// Strict UTF-8 to UTF-16: ill-formed input (truncated or overlong sequences,
// encoded surrogates, values above U+10FFFF, stray continuation bytes) gives
// an empty result, never a partly converted one.
std::wstring Utf8ToWide(const std::string& bytes);

// `text` without spaces, tabs, CR and LF at its start and end.
std::wstring TrimWhitespace(const std::wstring& text);
