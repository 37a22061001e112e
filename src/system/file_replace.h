#pragma once
// Putting a verified staging file in place of a client file.

#include <string>

// Moves `source` onto `target` (created with its directories when missing; a
// read-only bit on the old target is cleared) in one rename, retrying for
// about six seconds while the target is in use or locked. True when `target`
// holds the staged content and `source` is gone; false with `errorText` set,
// the target unchanged and `source` left for the caller to delete.
bool ReplaceLocalFile(const std::wstring& source, const std::wstring& target, std::wstring& errorText);
