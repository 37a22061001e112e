#include "update/download_phase.h"

#include <chrono>
#include <cstdint>

#include "common/handle.h"
#include "common/long_path.h"
#include "common/run_flags.h"
#include "common/win_compat.h"
#include "config/log.h"
#include "config/settings.h"
#include "net/file_md5.h"
#include "net/transfer.h"
#include "update/install.h"
#include "update/release_state.h"
#include "update/run_report.h"
#include "update/staging.h"
#include "update/url_building.h"

namespace {

constexpr int kAttempts = 3;
constexpr DWORD kPauseAfterFailedTransferMs = 500;
constexpr DWORD kPauseAfterMismatchMs = 700;
constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

// What the last attempt at one file left.
struct AttemptRecord {
    bool verified = false;
    bool cancelled = false;  // the attempts stopped at a cancel
    int attempt = 0;
    double seconds = 0.0;
    std::wstring md5;  // of the staged file; empty when none was obtained
};

std::uint64_t StagedSize(const std::wstring& path) {
    std::uint64_t size = kUnknownSize;
    QueryRegularFileSize(path, size);
    return size;
}

std::wstring AttemptUrl(const ManifestEntry& entry, int attempt) {
    // Both values make every attempt's URL new, so no cache can answer a
    // retry with the copy it gave before.
    const std::wstring url = AppendQueryParameter(BuildFileUrl(Settings.baseUrl, entry.path), L"md5", entry.md5);
    return AppendQueryParameter(url, L"attempt",
                                std::to_wstring(attempt) + L"-" + std::to_wstring(::GetTickCount64()));
}

double SecondsSince(SteadyClock::time_point start) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - start);
    return static_cast<double>(elapsed.count()) / 1e9;
}

// "2/3": the attempt out of the attempts a file gets.
std::wstring AttemptOfText(int attempt) { return std::to_wstring(attempt) + L"/" + std::to_wstring(kAttempts); }

std::wstring OrMissing(const std::wstring& md5) { return md5.empty() ? L"<brak>" : md5; }

// One attempt: transfer into the staging file, then size and MD5. Returns
// true when the staged file is verified.
bool TryOnce(RunContext& run, const ManifestEntry& entry, const StagedFile& staged, AttemptRecord& record) {
    run.errorText.clear();
    record.md5.clear();
    ReportFileProgress(0);
    RemoveStagingFile(staged);
    const std::wstring url = AttemptUrl(entry, record.attempt);
    if (record.attempt > 1) {
        ReportStatus(L"Ponowne pobieranie pliku (" + AttemptOfText(record.attempt) + L")...");
    }
    // Made before the request, so a name a scanner still holds is waited out
    // within this attempt instead of costing it; the download writes through
    // this one handle, never opening the name again.
    FileHandle stagingFile;
    const bool created = CreateStagingFile(staged, stagingFile, run.errorText);
    const SteadyClock::time_point start = SteadyClock::now();
    // The staging file never holds more than the entry's size.
    const bool transferred =
        created && DownloadToFile(
                       url, stagingFile,
                       [&run](std::uint64_t bytes) { ReportDownloadProgress(run.progress, bytes); }, run.errorText,
                       entry.size);
    stagingFile.Reset();  // closed before it is removed or read back
    record.seconds = SecondsSince(start);
    if (!transferred) {
        run.errorText = ShownPathText(run.errorText, staged.stagingPath);
        WriteLog(L"Próba pobrania " + AttemptOfText(record.attempt) + L" nie powiodła się dla " + entry.path +
                 L": " + run.errorText);
        if (record.attempt < kAttempts && !CancelRequested.load()) ::Sleep(kPauseAfterFailedTransferMs);
        return false;
    }
    const std::uint64_t size = StagedSize(staged.stagingPath);
    std::wstring md5Error;
    const bool hashed = ComputeFileMd5(LongPathForm(staged.stagingPath), record.md5, md5Error);
    md5Error = ShownPathText(md5Error, staged.stagingPath);
    if (size == entry.size && hashed && record.md5 == entry.md5) return true;
    WriteLog(MismatchLogLine(entry, record.md5, size, record.attempt, md5Error));
    if (record.attempt < kAttempts && !CancelRequested.load()) {
        ReportCounts(L"Serwer zwrócił nieaktualną lub uszkodzoną wersję pliku. Ponawianie...");
        ::Sleep(kPauseAfterMismatchMs);
    }
    return false;
}

AttemptRecord DownloadAndVerify(RunContext& run, const ManifestEntry& entry, const StagedFile& staged) {
    AttemptRecord record;
    for (record.attempt = 1; record.attempt <= kAttempts; ++record.attempt) {
        if (TryOnce(run, entry, staged, record)) {
            record.verified = true;
            return record;
        }
        // The player is closing the patcher: no further attempt.
        if (CancelRequested.load()) {
            record.cancelled = true;
            return record;
        }
    }
    record.attempt = kAttempts;
    return record;
}

void ReportFileFailed(RunContext& run, const ManifestEntry& entry, const StagedFile& staged,
                      const AttemptRecord& record) {
    RemoveStagingFile(staged);
    if (record.cancelled) return ReportFailure(L"Operacja anulowana.");
    run.errorText = L"Pobrany plik nadal ma nieprawidłową sumę MD5: " + entry.path + L". Oczekiwano " + entry.md5 +
                    L", pobrano " + OrMissing(record.md5) +
                    L". Sprawdź, czy manifest został wygenerowany po skopiowaniu ostatecznej wersji pliku.";
    ReportFailure(run.errorText);
}

void LogVerified(RunContext& run, const ManifestEntry& entry, const AttemptRecord& record) {
    const double seconds = record.seconds > 0.001 ? record.seconds : 0.001;
    ReportFileProgress(100);
    run.totalDownloadSeconds += seconds;
    const auto speed = static_cast<std::uint64_t>(static_cast<double>(entry.size) / seconds);
    WriteLog(L"Pobrano i zweryfikowano: " + entry.path + L" | rozmiar: " + FormatBytes(entry.size) + L" | czas: " +
             FormatSeconds(seconds) + L" | średnia prędkość: " + FormatBytes(speed) + L"/s | próba: " +
             AttemptOfText(record.attempt));
}

std::uint64_t TotalSize(const std::vector<ManifestEntry>& list) {
    std::uint64_t total = 0;
    for (const ManifestEntry& entry : list) total += entry.size;
    return total;
}

}  // namespace

std::wstring MismatchLogLine(const ManifestEntry& entry, const std::wstring& md5, std::uint64_t size, int attempt,
                            const std::wstring& md5Error) {
    std::wstring line = L"Niezgodność pobranego pliku " + entry.path + L". Oczekiwany MD5=" + entry.md5 +
                        L", pobrany MD5=" + OrMissing(md5) + L", oczekiwany rozmiar=" + std::to_wstring(entry.size) +
                        L", pobrany rozmiar=" + std::to_wstring(size) + L", próba=" + AttemptOfText(attempt) + L".";
    if (!md5Error.empty()) line += L" Błąd MD5: " + md5Error;
    return line;
}

void RunDownloadPhase(RunContext& run) {
    StartDownloadPhase(run.progress, TotalSize(run.downloadList), SteadyClock::now());
    ReportTotalProgress(0);
    ReportFileProgress(0);
    for (const ManifestEntry& entry : run.downloadList) {
        if (CancelRequested.load()) return;
        const StagedFile staged = StagingFor(entry, run.patcherExeLower);
        PrepareStaging(staged);
        run.progress.currentEntry = entry;
        ReportStatus(L"Pobieranie aktualizacji...");
        ReportDetail(entry.path);
        const AttemptRecord record = DownloadAndVerify(run, entry, staged);
        if (!record.verified) return ReportFileFailed(run, entry, staged, record);
        LogVerified(run, entry, record);
        if (InstallFile(run, entry, staged) == StepResult::RunOver) return;
    }
    RememberAcceptedRelease(run);
    ShowSummary(run);
}
