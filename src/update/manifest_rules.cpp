#include "update/manifest_rules.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "common/win_compat.h"
#include "update/release_state.h"

namespace {

// The name Windows stores for `path`: each element without its trailing dots
// and spaces, elements that leave nothing (".", or an empty one between two
// separators) dropped, in upper case as the file system compares names.
std::wstring StoredName(const std::wstring& path) {
    std::wstring name;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        std::wstring_view element(path.data() + start, end - start);
        while (!element.empty() && (element.back() == L'.' || element.back() == L' ')) element.remove_suffix(1);
        if (!element.empty()) {
            if (!name.empty()) name += L'\\';
            name += element;
        }
        start = end + 1;
    }
    std::wstring upper(name.size(), L'\0');
    if (!name.empty()) {
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(), static_cast<int>(name.size()),
                        upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    }
    return upper;
}

bool EndsWith(const std::wstring& text, std::wstring_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool CheckManifestNames(const Manifest& manifest, const std::wstring& ownStagingName, std::wstring& error) {
    const std::wstring log = StoredName(L"patcher.txt");
    const std::wstring releaseFile = StoredName(kReleaseFileName);
    const std::wstring newPatcher = StoredName(ownStagingName);
    std::unordered_set<std::wstring> seen;
    seen.reserve(manifest.size());
    for (const ManifestEntry& entry : manifest) {
        const std::wstring name = StoredName(entry.path);
        if (name == log) {
            error = L"Lista plików nie może zastępować dziennika patcher.txt.";
            return false;
        }
        if (name == releaseFile) {
            error = L"Lista plików nie może zastępować pliku patcher-release.txt.";
            return false;
        }
        if (EndsWith(name, L".DOWNLOAD") || name == newPatcher) {
            error = L"Lista plików zawiera nazwę pliku tymczasowego: " + entry.path;
            return false;
        }
        if (!seen.insert(name).second) {
            error = L"Lista plików wymienia ten sam plik więcej niż raz: " + entry.path;
            return false;
        }
    }
    return true;
}
