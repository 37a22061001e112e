#pragma once
// Publishing a file in one step.

#include <filesystem>
#include <string>
#include <string_view>

// Writes `text` to a temporary file beside `target` (named after it, ending in
// ".new", so a leftover is never listed), flushes it to disk and renames it
// over `target`: a reader sees the old file or the whole new one. False with
// `error` set; the temporary file is removed then and `target` is untouched.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view text, std::string& error);
