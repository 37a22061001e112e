#include "update/manifest_rules.h"

#include <string_view>
#include <unordered_set>

#include "common/text.h"
#include "common/win_compat.h"
#include "net/manifest_names.h"

namespace {

// The name Windows stores for a UTF-8 path (StoredNameKey), upper-cased as
// LCMapStringEx does: it joins a few pairs the shared folding keeps apart
// (letters of alphabets beyond it), so a name is never listed twice unseen.
std::wstring WindowsKey(std::string_view path) {
    const std::wstring name = Utf8ToWide(StoredNameKey(path));
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
    const std::wstring log = WindowsKey(kLogName);
    const std::wstring staging = WindowsKey(kStagingSuffix);
    const std::wstring newPatcher = WindowsKey(WideToUtf8(ownStagingName));
    std::unordered_set<std::wstring> seen;
    seen.reserve(manifest.size());
    for (const ManifestEntry& entry : manifest) {
        const std::string path = WideToUtf8(entry.path);
        const std::wstring name = WindowsKey(path);
        ListedNameFacts facts;
        facts.log = name == log;
        facts.staging = EndsWith(name, staging) || name == newPatcher;
        facts.listedBefore = !seen.insert(name).second;
        switch (JudgeListedName(path, facts)) {
            case ListedNameFault::None:
                continue;
            case ListedNameFault::Log:
                error = L"Lista plików nie może zastępować dziennika patcher.txt.";
                return false;
            case ListedNameFault::Staging:
                error = L"Lista plików zawiera nazwę pliku tymczasowego: " + entry.path;
                return false;
            case ListedNameFault::Twice:
                error = L"Lista plików wymienia ten sam plik więcej niż raz: " + entry.path;
                return false;
            case ListedNameFault::Unusable:
                error = L"Lista plików zawiera niedozwoloną nazwę: " + entry.path;
                return false;
        }
    }
    return true;
}
