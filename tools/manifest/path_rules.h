#pragma once
// Which names and paths a manifest may list, and how they are compared and
// printed. Pure functions over UTF-8 bytes; "/" separates path elements.

#include <string>
#include <string_view>
#include <vector>

// Strict UTF-8, as the patcher decodes it: no truncated or overlong sequence,
// no encoded surrogate, nothing above U+10FFFF, no stray continuation byte.
bool IsValidUtf8(std::string_view bytes);

// Appends the UTF-8 bytes of `c`. A surrogate code point is encoded like any
// other, which gives invalid UTF-8: a name to refuse rather than to change.
void AppendUtf8(std::string& out, char32_t c);

// The patcher's path rule ("/" and "\" both separate): not empty, no leading
// separator, no ":" or NUL, and no element made only of dots and spaces with
// two or more dots ("..", "...", ". .": Windows resolves them like "..").
bool IsPatcherPath(std::string_view path);

// Why one path element cannot be published (one reason per fault); empty when
// it can. `first` marks the path's first element, whose leading space the
// manifest's field separator would swallow.
std::vector<std::string> NameProblems(std::string_view name, bool first);

// The path as Windows compares names: letters of the Latin, Greek and
// Cyrillic alphabets folded to lower case, everything else unchanged. Expects
// valid UTF-8 (invalid bytes are copied).
std::string FoldCase(std::string_view path);

// The bytes with control characters and invalid UTF-8 written as \xNN, so any
// name prints on one line of a terminal.
std::string Printable(std::string_view bytes);
