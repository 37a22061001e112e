#include "update/update_run.h"

#include <string>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "config/log.h"
#include "config/settings.h"
#include "net/manifest_signature.h"
#include "net/proxy_choice.h"
#include "net/transfer.h"
#include "system/configurator_shutdown.h"
#include "system/game_shutdown.h"
#include "update/check_phase.h"
#include "update/download_phase.h"
#include "update/manifest_rules.h"
#include "update/preflight.h"
#include "update/release_state.h"
#include "update/run_context.h"
#include "update/run_report.h"
#include "update/staging.h"
#include "update/url_building.h"

namespace {

void StartRun() {
    WriteLog(std::wstring(64, L'='));
    WriteLog(L"Rozpoczęcie sprawdzania aktualizacji.");
    ReportTotalProgress(0);
    ReportFileProgress(0);
    ReportRate(L"Szacowany czas do końca: obliczanie...    Twoja prędkość pobierania: oczekiwanie na dane");
}

// With keys built in, the manifest counts only with a signature that one of
// them verifies, fetched from beside it: a server that is not the studio's
// cannot make the run check, close or download anything, nor one that replays
// an older signed release or one past its expiry. `signatureUrl` is the
// manifest's URL with ".sig" on its path and the same query.
bool VerifyManifestSignature(const std::wstring& signatureUrl, const std::vector<char>& manifest, RunContext& run) {
    const std::span<const ManifestPublicKey> keys = BuiltInManifestKeys();
    if (keys.empty()) return true;
    std::vector<char> signature;
    ReleaseStamp stamp;
    if (!FetchToMemory(signatureUrl, signature, run.errorText) ||
        !CheckManifestSignature(manifest, signature, keys, stamp, run.errorText)) {
        return false;
    }
    WriteLog(L"Podpis listy plików zweryfikowany.");
    return AcceptSignedRelease(stamp, CurrentUnixSeconds(), run);
}

bool FetchManifest(RunContext& run) {
    ReportStatus(L"Pobieranie listy plików...");
    ForgetProxyScriptFailures();  // a proxy script missing last run may be there now
    // The tick count defeats caches between the patcher and the server.
    const std::wstring fileUrl = BuildFileUrl(Settings.baseUrl, Settings.manifestPath);
    const std::wstring nocache = std::to_wstring(::GetTickCount64());
    std::vector<char> bytes;
    if (!FetchToMemory(AppendQueryParameter(fileUrl, L"nocache", nocache), bytes, run.errorText)) return false;
    if (!VerifyManifestSignature(AppendQueryParameter(fileUrl + L".sig", L"nocache", nocache), bytes, run)) {
        return false;
    }
    return ParseManifest(bytes, run.manifest, run.errorText);
}

void ReportUpToDate() {
    WriteLog(L"Klient jest aktualny.");
    ReportStatus(L"Klient jest aktualny.");
    ReportDetail(L"Możesz uruchomić grę.");
    ReportCounts(L"Wszystkie pliki mają poprawne sumy MD5.");
    ReportRate(L"Pobieranie nie jest wymagane — klient jest aktualny.");
    ReportTotalProgress(100);
    ReportFileProgress(100);
    ReportDone(true);
}

// Closes a running configurator when a configurator file is stale, then the game.
bool PrepareForDownload(RunContext& run) {
    for (const ManifestEntry& entry : run.downloadList) {
        if (!IsConfiguratorFile(entry)) continue;
        ReportStatus(L"Przygotowanie aktualizacji konfiguratora...");
        ReportDetail(L"Sprawdzanie procesu config.exe.");
        ReportCounts(L"Uruchomiony konfigurator zostanie zamknięty przed podmianą config.exe lub config.ini.");
        if (!CloseRunningConfigurators(run.errorText)) return false;
        break;
    }
    ReportStatus(L"Przygotowanie do aktualizacji...");
    ReportDetail(L"Sprawdzanie, czy gra jest uruchomiona.");
    ReportCounts(L"Uruchomiona gra zostanie zamknięta przed aktualizacją.");
    return CloseRunningGame(run.errorText);
}

void RunUpdate(RunContext& run) {
    StartRun();
    if (!LoadSettings(run.errorText) || !FetchManifest(run) ||
        !CheckManifestNames(run.manifest, FileNamePart(OwnStagingPath()), run.errorText)) {
        return ReportFailure(run.errorText);
    }
    if (CheckLocalFiles(run) == StepResult::RunOver) return;
    if (run.downloadList.empty()) {
        RememberAcceptedRelease(run);
        return ReportUpToDate();
    }
    run.patcherExeLower = ToLowerWide(Settings.patcherExe);
    // What cannot work is said while the game still runs.
    if (!CheckDownloadTargets(run.downloadList, run.patcherExeLower, run.errorText)) return ReportFailure(run.errorText);
    if (!PrepareForDownload(run)) return ReportFailure(run.errorText);
    OrderDownloadList(run.downloadList, Settings.updaterPath, Settings.patcherExe);
    RunDownloadPhase(run);
}

}  // namespace

void UpdateWorker() noexcept {
    RunActive.exchange(true);
    try {
        RunContext run;
        RunUpdate(run);
    } catch (...) {
        try {
            ReportFailure(L"Nieoczekiwany błąd aktualizacji.");
        } catch (...) {
        }
    }
    RunActive.exchange(false);
}
