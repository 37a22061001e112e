#pragma once
// The program's own location. Set once by the entry point before the window
// exists, read-only afterwards; every file the patcher touches is located
// from AppDirectory.

#include <string>

// Full path of the running executable.
extern std::wstring OwnExePath;
// Parent of OwnExePath: the game directory.
extern std::wstring AppDirectory;

// Sets OwnExePath to `exePath` and AppDirectory to its parent path.
void SetAppPaths(const std::wstring& exePath);

// Reads the executable's path from the system and sets both values.
// False when the path is unavailable or longer than 32767 units.
bool InitAppPathsFromModule();

// A drive path with its root (C:\...) or a UNC path (\\server\share\...);
// "/" counts as a separator too.
bool IsAbsolutePath(const std::wstring& path);

// Joins `right` to `directory` by the platform's path-append rules: an absolute
// right side (drive with root, or UNC) replaces; a rooted right side keeps only
// the directory's drive; another drive replaces; otherwise one backslash goes
// between them unless the directory already ends with a separator.
std::wstring AppendPath(const std::wstring& directory, const std::wstring& right);

// The text after the last "\\" or "/" of `path` (all of it when there is none).
std::wstring FileNamePart(const std::wstring& path);

// The path without its last element, as std::filesystem's parent_path gives
// it: separators before that element go too, but a root stays whole ("C:\\",
// "C:", "\\"); a root alone is its own parent; a single relative name has the
// empty parent; "\\\\server\\share\\x" gives "\\\\server\\share".
std::wstring ParentPath(const std::wstring& path);

// Creates `directory` and every missing folder above it. True when it exists
// as a folder afterwards (already there counts); false when a part of it is a
// file or a folder cannot be made.
bool CreateDirectoryTree(const std::wstring& directory);

// AppendPath(AppDirectory, relative).
std::wstring ResolveAppPath(const std::wstring& relative);
