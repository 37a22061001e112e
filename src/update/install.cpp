#include "update/install.h"

#include <cstdint>
#include <string>

#include "common/win_compat.h"
#include "config/log.h"
#include "system/configurator_shutdown.h"
#include "system/file_replace.h"
#include "system/self_update.h"
#include "update/progress.h"
#include "update/run_report.h"
#include "update/staging.h"

namespace {

StepResult HandOverOwnExecutable(RunContext& run, const StagedFile& staged) {
    ReportStatus(L"Aktualizacja patchera...");
    if (!HandOffSelfUpdate(staged.stagingPath, run.errorText)) {
        // The ".new" file stays: the next run removes it before downloading again.
        ReportFailure(run.errorText);
        return StepResult::RunOver;
    }
    WriteLog(L"Przekazano samoaktualizację do pomocnika.");
    ReportExit();
    return StepResult::RunOver;
}

}  // namespace

StepResult InstallFile(RunContext& run, const ManifestEntry& entry, const StagedFile& staged) {
    if (IsConfiguratorFile(entry)) {
        // Again before every configurator file: one may have been started during the downloads.
        ReportStatus(L"Kończenie konfiguratora przed podmianą...");
        ReportDetail(entry.path);
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
    ReportTotalProgress(static_cast<WPARAM>(PercentOf(run.progress.bytesCompleted, run.progress.bytesTotal)));
    WriteLog(L"Podmieniono plik lokalny: " + entry.path);
    return StepResult::Next;
}

void ShowSummary(const RunContext& run) {
    const std::uint64_t average =
        run.totalDownloadSeconds > 0.0
            ? static_cast<std::uint64_t>(static_cast<double>(run.progress.bytesCompleted) / run.totalDownloadSeconds)
            : 0;
    const std::wstring rating = SpeedRating(static_cast<double>(average));
    ReportStatus(L"Aktualizacja zakończona.");
    ReportDetail(L"Możesz uruchomić grę.");
    ReportCounts(L"Pobrano " + FormatBytes(run.progress.bytesTotal) + L".");
    ReportRate(L"Pobieranie zakończone    Średnia prędkość: " + FormatBytes(average) + L"/s    Ocena pobierania: " +
               rating);
    ReportTotalProgress(100);
    ReportFileProgress(100);
    ReportDone(true);
    WriteLog(L"Aktualizacja zakończona pomyślnie. Pobrano: " + FormatBytes(run.progress.bytesCompleted) +
             L" | łączny czas pobierania: " + FormatSeconds(run.totalDownloadSeconds) + L" | średnia prędkość: " +
             FormatBytes(average) + L"/s | ocena pobierania: " + rating);
}
