#include "system/configurator_shutdown.h"

#include <algorithm>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/text.h"
#include "config/log.h"
#include "system/process_shutdown.h"

namespace {

constexpr ShutdownPlan kConfiguratorPlan{
    .graceMs = 5000,
    .askLog = L"Wykryto uruchomiony konfigurator w katalogu gry. Próba normalnego zamknięcia.",
    .closedLog = L"Konfigurator został zamknięty normalnie.",
    .timeoutLog = L"Konfigurator nie zamknął się w wyznaczonym czasie. Wymuszenie zakończenia.",
    .openFailedText =
        L"Nie można zamknąć konfiguratora z katalogu gry. Zamknij go ręcznie i ponownie uruchom patcher. Błąd: ",
    .terminateFailedText =
        L"Nie można zakończyć procesu konfiguratora. Zamknij go ręcznie i ponownie uruchom patcher. Błąd: ",
    .stillRunningText =
        L"Konfigurator nadal jest uruchomiony. Zamknij go ręcznie przed aktualizacją plików config.",
    .forcedLog = L"Proces konfiguratora został zakończony przed aktualizacją config.exe lub config.ini.",
};

constexpr DWORD kFinalPathCapacity = 32768;

enum class FinalPath { Found, Missing, Unnamed };

// The one path Windows keeps for an existing file or folder, asked through a
// handle: an 8.3 name, a junction, a symbolic link or a subst drive comes out
// as the object's real path. Missing when nothing of that name can be opened.
FinalPath FinalPathOf(const std::wstring& path, std::wstring& finalPath) {
    // Asking for the name needs no access right; backup semantics let a folder open too.
    const FileHandle file(::CreateFileW(LongPathForm(path).c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) return FinalPath::Missing;
    std::wstring buffer(kFinalPathCapacity, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(file.Get(), buffer.data(), kFinalPathCapacity,
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= kFinalPathCapacity) return FinalPath::Unnamed;
    buffer.resize(length);
    finalPath = WithoutLongPrefix(buffer);
    return FinalPath::Found;
}

// The longest leading part that exists, resolved to its final path, with the
// rest appended as written; the path unchanged when no part can be resolved.
std::wstring WeaklyCanonical(const std::wstring& path) {
    std::wstring head = path;
    std::wstring rest;
    for (;;) {
        std::wstring resolved;
        const FinalPath found = FinalPathOf(head, resolved);
        if (found == FinalPath::Found) return rest.empty() ? resolved : resolved + L"\\" + rest;
        if (found == FinalPath::Unnamed) return path;
        const std::wstring parent = ParentPath(head);
        if (parent.empty() || parent == head) return path;
        const std::wstring element = FileNamePart(head);
        if (!element.empty()) rest = rest.empty() ? element : element + L"\\" + rest;
        head = parent;
    }
}

std::wstring ComparablePath(const std::wstring& path) { return ToLowerWide(LexicallyNormal(WeaklyCanonical(path))); }

std::vector<std::wstring> ConfiguratorCandidates() {
    // In the form IsSamePath compares, worked out once for the whole snapshot.
    return {ComparablePath(ResolveAppPath(L"config.exe")), ComparablePath(ResolveAppPath(L"OrkumiConfig.exe")),
            ComparablePath(ResolveAppPath(L"Zerandis_config.exe"))};
}

bool MatchesAnyCandidate(const std::wstring& imagePath, const std::vector<std::wstring>& candidates) {
    const std::wstring image = ComparablePath(imagePath);
    return std::find(candidates.begin(), candidates.end(), image) != candidates.end();
}

}  // namespace

bool IsConfiguratorFile(const ManifestEntry& entry) {
    const std::wstring name = ToLowerWide(FileNamePart(entry.path));
    return name == L"config.exe" || name == L"config.ini";
}

bool IsSamePath(const std::wstring& a, const std::wstring& b) {
    return ComparablePath(a) == ComparablePath(b);
}

std::vector<DWORD> FindConfiguratorProcesses() {
    std::vector<DWORD> ids;
    const std::vector<std::wstring> candidates = ConfiguratorCandidates();
    for (const RunningProcess& process : SnapshotProcesses()) {
        const std::wstring imagePath = ProcessImagePath(process.id);
        if (imagePath.empty() || !MatchesAnyCandidate(imagePath, candidates)) continue;
        ids.push_back(process.id);
        WriteLog(L"Wykryto proces konfiguratora: " + imagePath + L" | PID: " + std::to_wstring(process.id));
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

bool CloseRunningConfigurators(std::wstring& errorText) {
    return ShutdownProcesses(FindConfiguratorProcesses(), kConfiguratorPlan, errorText);
}
