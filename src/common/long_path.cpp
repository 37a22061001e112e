#include "common/long_path.h"

#include <algorithm>
#include <vector>

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

bool IsDriveAbsolute(const std::wstring& path) {
    return path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]) &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

bool IsUncPath(const std::wstring& path) {
    return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
}

}  // namespace

std::wstring LexicallyNormal(const std::wstring& path) {
    if (path.empty()) return path;
    // The root: "C:\\", "C:", "\\\\" (UNC), "\\" or nothing.
    std::wstring root;
    size_t position = 0;
    if (path.size() >= 2 && path[1] == L':') {
        root = path.substr(0, 2);
        position = 2;
    }
    if (position < path.size() && IsSeparator(path[position])) {
        const bool unc = position == 0 && path.size() > 1 && IsSeparator(path[1]);
        root += unc ? L"\\\\" : L"\\";
    }
    const bool rooted = !root.empty() && root.back() == L'\\';
    std::vector<std::wstring> elements;
    while (position < path.size()) {
        while (position < path.size() && IsSeparator(path[position])) ++position;
        const size_t end = std::min(path.find_first_of(L"\\/", position), path.size());
        std::wstring element = path.substr(position, end - position);
        position = end;
        if (element.empty() || element == L".") continue;
        if (element == L".." && !elements.empty() && elements.back() != L"..") {
            elements.pop_back();
            continue;
        }
        if (element == L".." && rooted) continue;  // nothing above a root
        elements.push_back(std::move(element));
    }
    std::wstring normal = root;
    for (size_t i = 0; i < elements.size(); ++i) normal += (i == 0 ? L"" : L"\\") + elements[i];
    // A path that named a folder keeps saying so.
    if (!elements.empty() && IsSeparator(path.back())) normal += L'\\';
    return normal.empty() ? L"." : normal;
}

std::wstring LongPathForm(const std::wstring& path) {
    if (path.size() < kLongPathThreshold || StartsWith(path, kLongPrefix) || StartsWith(path, kDevicePrefix)) {
        return path;
    }
    if (!IsDriveAbsolute(path) && !IsUncPath(path)) return path;
    std::wstring normal = LexicallyNormal(path);
    // Windows drops the last element's trailing dots and blanks from an
    // ordinary path; the prefixed one must name the same file.
    if (!IsSeparator(path.back())) {
        while (!normal.empty() && (normal.back() == L'.' || normal.back() == L' ')) normal.pop_back();
    }
    return IsUncPath(path) ? kLongUncPrefix + normal.substr(2) : kLongPrefix + normal;
}

std::wstring WithoutLongPrefix(const std::wstring& path) {
    if (StartsWith(path, kLongUncPrefix)) return L"\\\\" + path.substr(std::size(kLongUncPrefix) - 1);
    if (StartsWith(path, kLongPrefix)) return path.substr(std::size(kLongPrefix) - 1);
    return path;
}

std::wstring ShownPathText(std::wstring text, const std::wstring& path) {
    const std::wstring longForm = LongPathForm(path);
    if (longForm == path) return text;
    for (size_t at = text.find(longForm); at != std::wstring::npos; at = text.find(longForm, at + path.size())) {
        text.replace(at, longForm.size(), path);
    }
    return text;
}
