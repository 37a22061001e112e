#include "system/configurator_shutdown.h"

#include <algorithm>

#include "common/app_paths.h"
#include "common/handle.h"
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

// GetFullPathNameW works on the text alone: it resolves "." and "..", turns
// "/" into "\\" and makes a relative path absolute, whether the file exists or not.
std::wstring ComparablePath(const std::wstring& path) {
    const DWORD capacity = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(capacity, L'\0');
    const DWORD length = capacity == 0 ? 0 : ::GetFullPathNameW(path.c_str(), capacity, full.data(), nullptr);
    if (length == 0 || length >= capacity) return ToLowerWide(path);
    full.resize(length);
    return ToLowerWide(full);
}

std::vector<std::wstring> ConfiguratorCandidates() {
    return {ResolveAppPath(L"config.exe"), ResolveAppPath(L"OrkumiConfig.exe"),
            ResolveAppPath(L"Zerandis_config.exe")};
}

bool MatchesAnyCandidate(const std::wstring& imagePath, const std::vector<std::wstring>& candidates) {
    return std::any_of(candidates.begin(), candidates.end(),
                       [&](const std::wstring& candidate) { return IsSamePath(imagePath, candidate); });
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
