#include "common/app_paths.h"

#include <vector>

#include "common/long_path.h"
#include "common/win_compat.h"

std::wstring OwnExePath;
std::wstring AppDirectory;

void SetAppPaths(const std::wstring& exePath) {
    OwnExePath = exePath;
    AppDirectory = ParentPath(exePath);
}

bool InitAppPathsFromModule() {
    constexpr DWORD kCapacity = 32768;
    std::vector<wchar_t> buffer(kCapacity, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), kCapacity);
    // A result that fills the buffer means the path was cut.
    if (length == 0 || length >= kCapacity) return false;
    SetAppPaths(std::wstring(buffer.data(), length));
    return true;
}

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool HasDriveLetter(const std::wstring& path) {
    return path.size() >= 2 && path[1] == L':' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

bool IsUnc(const std::wstring& path) {
    return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

// "C:" for a drive path; "\\server\share" for a UNC path; empty otherwise.
std::wstring DriveOf(const std::wstring& path) {
    if (HasDriveLetter(path)) return path.substr(0, 2);
    if (!IsUnc(path)) return {};
    size_t end = 2;
    for (int component = 0; component < 2 && end < path.size(); ++component) {
        while (end < path.size() && IsSeparator(path[end])) ++end;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
    }
    return path.substr(0, end);
}

// Length of the root: "C:\\" 3, "C:" 2, a leading separator 1 (a UNC server
// name is no part of it, as in the C++ runtime's own path rules), else 0.
size_t RootLength(const std::wstring& path) {
    if (!path.empty() && IsSeparator(path[0])) return 1;
    if (path.size() < 2 || path[1] != L':') return 0;
    return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
}

bool IsDirectory(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(LongPathForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameDrive(const std::wstring& a, const std::wstring& b) {
    return a.size() == 2 && b.size() == 2 && (a[0] | 0x20) == (b[0] | 0x20);
}

}  // namespace

bool IsAbsolutePath(const std::wstring& path) {
    return (HasDriveLetter(path) && path.size() >= 3 && IsSeparator(path[2])) || IsUnc(path);
}

std::wstring AppendPath(const std::wstring& directory, const std::wstring& right) {
    if (IsAbsolutePath(right)) return right;
    std::wstring rest = right;
    if (HasDriveLetter(right)) {
        if (!SameDrive(right.substr(0, 2), DriveOf(directory))) return right;
        rest = right.substr(2);  // same drive, relative: append what follows the drive
    }
    if (!rest.empty() && IsSeparator(rest[0])) return DriveOf(directory) + rest;
    // A bare drive ("C:") takes no separator: "C:" + "x" names x in that drive's current directory.
    const bool needsSeparator = !directory.empty() && !IsSeparator(directory.back()) &&
                                !(directory.size() == 2 && HasDriveLetter(directory));
    return needsSeparator ? directory + L"\\" + rest : directory + rest;
}

std::wstring FileNamePart(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring ResolveAppPath(const std::wstring& relative) {
    return AppendPath(AppDirectory, relative);
}

std::wstring ParentPath(const std::wstring& path) {
    const size_t root = RootLength(path);
    const size_t relative = path.find_first_not_of(L"\\/", root);
    if (relative == std::wstring::npos) return path;
    size_t end = path.size();
    // A trailing separator ends an empty last element: only the separators go.
    if (!IsSeparator(path.back())) {
        const size_t separator = path.find_last_of(L"\\/");
        end = separator == std::wstring::npos || separator < relative ? relative : separator + 1;
    }
    while (end > root && IsSeparator(path[end - 1])) --end;
    return path.substr(0, end);
}

bool CreateDirectoryTree(const std::wstring& directory) {
    // Walk up to the first folder that exists, then make the missing ones top-down.
    std::vector<std::wstring> missing;
    for (std::wstring current = directory;;) {
        const DWORD attributes = ::GetFileAttributesW(LongPathForm(current).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
            break;
        }
        missing.push_back(current);
        std::wstring parent = ParentPath(current);
        if (parent.empty() || parent == current) break;
        current = std::move(parent);
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        // Another process may make the same folder meanwhile; the final check decides.
        if (!::CreateDirectoryW(LongPathForm(*folder).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return IsDirectory(directory);
}
