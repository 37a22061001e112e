#include "update/update_run.h"

#include <string>

#include "app/window_messages.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "config/log.h"
#include "config/settings.h"
#include "net/transfer.h"
#include "system/configurator_shutdown.h"
#include "system/game_shutdown.h"
#include "update/check_phase.h"
#include "update/download_phase.h"
#include "update/run_context.h"
#include "update/url_building.h"

namespace {

void StartRun() {
    WriteLog(std::wstring(64, L'='));
    WriteLog(L"Rozpoczęcie sprawdzania aktualizacji.");
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 0);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 0);
    PostWindowText(WM_PATCHER_RATE,
                   L"Szacowany czas do końca: obliczanie...    Twoja prędkość pobierania: oczekiwanie na dane");
}

std::wstring ManifestUrl() {
    // The tick count defeats caches between the patcher and the server.
    return AppendQueryParameter(BuildFileUrl(Settings.baseUrl, Settings.manifestPath), L"nocache",
                                std::to_wstring(::GetTickCount64()));
}

bool FetchManifest(RunContext& run) {
    PostWindowText(WM_PATCHER_STATUS, L"Pobieranie listy plików...");
    std::vector<char> bytes;
    if (!FetchToMemory(ManifestUrl(), bytes, run.errorText)) return false;
    return ParseManifest(bytes, run.manifest, run.errorText);
}

void ReportUpToDate() {
    WriteLog(L"Klient jest aktualny.");
    PostWindowText(WM_PATCHER_STATUS, L"Klient jest aktualny.");
    PostWindowText(WM_PATCHER_DETAIL, L"Możesz uruchomić grę.");
    PostWindowText(WM_PATCHER_COUNTS, L"Wszystkie pliki mają poprawne sumy MD5.");
    PostWindowText(WM_PATCHER_RATE, L"Pobieranie nie jest wymagane — klient jest aktualny.");
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 100);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 100);
    PostWindowNumber(WM_PATCHER_DONE, 1);
}

// Closes a running configurator when a configurator file is stale, then the game.
bool PrepareForDownload(RunContext& run) {
    for (const ManifestEntry& entry : run.downloadList) {
        if (!IsConfiguratorFile(entry)) continue;
        PostWindowText(WM_PATCHER_STATUS, L"Przygotowanie aktualizacji konfiguratora...");
        PostWindowText(WM_PATCHER_DETAIL, L"Sprawdzanie procesu config.exe.");
        PostWindowText(WM_PATCHER_COUNTS,
                       L"Uruchomiony konfigurator zostanie zamknięty przed podmianą config.exe lub config.ini.");
        if (!CloseRunningConfigurators(run.errorText)) return false;
        break;
    }
    PostWindowText(WM_PATCHER_STATUS, L"Przygotowanie do aktualizacji...");
    PostWindowText(WM_PATCHER_DETAIL, L"Sprawdzanie, czy gra jest uruchomiona.");
    PostWindowText(WM_PATCHER_COUNTS, L"Uruchomiona gra zostanie zamknięta przed aktualizacją.");
    return CloseRunningGame(run.errorText);
}

void RunUpdate(RunContext& run) {
    StartRun();
    if (!LoadSettings(run.errorText) || !FetchManifest(run)) return ReportFailure(run.errorText);
    if (CheckLocalFiles(run) == StepResult::RunOver) return;
    if (run.downloadList.empty()) return ReportUpToDate();
    if (!PrepareForDownload(run)) return ReportFailure(run.errorText);
    OrderDownloadList(run.downloadList, Settings.updaterPath, Settings.patcherExe);
    run.patcherExeLower = ToLowerWide(Settings.patcherExe);
    RunDownloadPhase(run);
}

}  // namespace

void UpdateWorker() noexcept {
    RunActive.exchange(true);
    CancelRequested.exchange(false);
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

void ReportFailure(const std::wstring& message) {
    WriteLog(L"BLAD: " + message);
    PostWindowText(WM_PATCHER_STATUS, L"Nie udało się zaktualizować klienta.");
    PostWindowText(WM_PATCHER_DETAIL, message);
    PostWindowText(WM_PATCHER_COUNTS, L"Szczegóły zapisano w patcher.txt");
    PostWindowText(WM_PATCHER_RATE, L"Pobieranie przerwane — nie można określić czasu ani jakości połączenia.");
    PostWindowNumber(WM_PATCHER_DONE, 0);
}
