#include "update/install.h"

#include <cstdint>
#include <string>

#include "app/window_messages.h"
#include "common/win_compat.h"
#include "config/log.h"
#include "system/configurator_shutdown.h"
#include "system/file_replace.h"
#include "system/self_update.h"
#include "update/progress.h"
#include "update/update_run.h"

namespace {

StepResult HandOverOwnExecutable(RunContext& run, const StagedFile& staged) {
    PostWindowText(WM_PATCHER_STATUS, L"Aktualizacja patchera...");
    if (!HandOffSelfUpdate(staged.stagingPath, run.errorText)) {
        // The ".new" file stays: the next run removes it before downloading again.
        ReportFailure(run.errorText);
        return StepResult::RunOver;
    }
    WriteLog(L"Przekazano samoaktualizację do pomocnika.");
    PostWindowNumber(WM_PATCHER_EXIT, 0);
    return StepResult::RunOver;
}

}  // namespace

StepResult InstallFile(RunContext& run, const ManifestEntry& entry, const StagedFile& staged) {
    if (IsConfiguratorFile(entry)) {
        // Again before every configurator file: one may have been started during the downloads.
        PostWindowText(WM_PATCHER_STATUS, L"Kończenie konfiguratora przed podmianą...");
        PostWindowText(WM_PATCHER_DETAIL, entry.path);
        if (!CloseRunningConfigurators(run.errorText)) {
            RemoveStagingFile(staged);
            ReportFailure(run.errorText);
            return StepResult::RunOver;
        }
    }
    if (staged.ownExecutable) return HandOverOwnExecutable(run, staged);
    if (!ReplaceLocalFile(staged.stagingPath, staged.targetPath, run.errorText)) {
        RemoveStagingFile(staged);
        ReportFailure(run.errorText);
        return StepResult::RunOver;
    }
    run.progress.bytesCompleted += entry.size;
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS,
                     static_cast<WPARAM>(PercentOf(run.progress.bytesCompleted, run.progress.bytesTotal)));
    WriteLog(L"Podmieniono plik lokalny: " + entry.path);
    return StepResult::Next;
}

void ShowSummary(const RunContext& run) {
    const std::uint64_t average =
        run.totalDownloadSeconds > 0.0
            ? static_cast<std::uint64_t>(static_cast<double>(run.progress.bytesCompleted) / run.totalDownloadSeconds)
            : 0;
    const std::wstring rating = SpeedRating(static_cast<double>(average));
    PostWindowText(WM_PATCHER_STATUS, L"Aktualizacja zakończona.");
    PostWindowText(WM_PATCHER_DETAIL, L"Możesz uruchomić grę.");
    PostWindowText(WM_PATCHER_COUNTS, L"Pobrano " + FormatBytes(run.progress.bytesTotal) + L".");
    PostWindowText(WM_PATCHER_RATE, L"Pobieranie zakończone    Średnia prędkość: " + FormatBytes(average) +
                                        L"/s    Ocena pobierania: " + rating);
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 100);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 100);
    PostWindowNumber(WM_PATCHER_DONE, 1);
    WriteLog(L"Aktualizacja zakończona pomyślnie. Pobrano: " + FormatBytes(run.progress.bytesCompleted) +
             L" | łączny czas pobierania: " + FormatSeconds(run.totalDownloadSeconds) + L" | średnia prędkość: " +
             FormatBytes(average) + L"/s | ocena pobierania: " + rating);
}
