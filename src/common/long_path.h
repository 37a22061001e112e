#pragma once
// Paths past Windows' classic length limit. An ordinary path stops at 260
// characters (a folder to be created at 248); the "\\?\" form lifts that to
// about 32767 but switches off Windows' own clean-up of the path, so it is
// built only from a path that is already full and clean. Texts shown to the
// player and the log always keep the ordinary form.

#include <cstddef>
#include <string>

// 260 minus the terminating NUL for a file, and 248 for a folder (room for an
// 8.3 name below it); one threshold at the lower of the two covers both.
inline constexpr std::size_t kLongPathThreshold = 248;

// The path as Windows itself would clean it: "/" becomes "\\", repeated
// separators fold into one (a UNC path keeps its leading pair), "." elements
// go and ".." takes away the element before it (never the root). Nothing
// else changes; an empty path stays empty.
std::wstring LexicallyNormal(const std::wstring& path);

// The form a file call needs for `path`: a full drive path ("C:\\...") or UNC
// path ("\\\\server\\share\\...") of 248 characters or more comes back
// normalised and prefixed ("\\\\?\\C:\\..." or "\\\\?\\UNC\\server\\share\\...").
// Shorter paths, relative ones and paths already in a "\\\\?\\" or "\\\\.\\"
// form come back unchanged. As Windows does, the last element loses its
// trailing dots and blanks.
std::wstring LongPathForm(const std::wstring& path);

// The "\\\\?\\" prefix taken off again, as GetFinalPathNameByHandleW and
// friends return it: "\\\\?\\C:\\x" gives "C:\\x", "\\\\?\\UNC\\s\\x" gives
// "\\\\s\\x"; any other path is returned unchanged.
std::wstring WithoutLongPrefix(const std::wstring& path);

// `text` with every LongPathForm(path) in it turned back into `path`: an
// error text made by a lower layer then names the file as the player knows it.
std::wstring ShownPathText(std::wstring text, const std::wstring& path);
