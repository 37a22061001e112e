#include "update/check_phase.h"

#include <algorithm>
#include <chrono>

#include "common/app_paths.h"
#include "common/long_path.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "net/file_md5.h"
#include "update/run_report.h"
#include "update/staging.h"

bool IsLocalFileCurrent(const ManifestEntry& entry, const std::wstring& localPath, bool& cancelled) {
    cancelled = false;
    std::uint64_t size = 0;
    if (!QueryRegularFileSize(localPath, size) || size != entry.size) return false;  // a wrong size is never read
    std::wstring md5;
    std::wstring md5Error;
    if (!ComputeFileMd5(LongPathForm(localPath), md5, md5Error)) {
        // An unreadable file is simply downloaded again; its error is of no use to the player.
        cancelled = CancelRequested.load();
        return false;
    }
    return md5 == entry.md5;
}

namespace {

// The check shows the file it is at about 30 times a second, so a client of
// many small files cannot flood the window's queue; a file big enough to take
// a while to hash, and the last file, are always shown.
constexpr auto kCheckShowInterval = std::chrono::milliseconds(33);
constexpr std::uint64_t kAlwaysShownSize = 4194304;

}  // namespace

StepResult CheckLocalFiles(RunContext& run) {
    run.downloadList.reserve(run.manifest.size());
    SteadyClock::time_point lastShown{};
    for (const ManifestEntry& entry : run.manifest) {
        if (CancelRequested.load()) return StepResult::RunOver;
        const SteadyClock::time_point now = SteadyClock::now();
        if (now - lastShown >= kCheckShowInterval || entry.size >= kAlwaysShownSize ||
            &entry == &run.manifest.back()) {
            lastShown = now;
            ReportStatus(L"Sprawdzanie plików...");
            ReportDetail(entry.path);
            ReportFileProgress(0);
        }
        bool cancelled = false;
        if (IsLocalFileCurrent(entry, ResolveAppPath(entry.path), cancelled)) continue;
        if (cancelled) return StepResult::RunOver;
        run.downloadList.push_back(entry);
    }
    return StepResult::Next;
}

void OrderDownloadList(std::vector<ManifestEntry>& list, const std::wstring& updaterPath,
                       const std::wstring& patcherExe) {
    const std::wstring updater = ToLowerWide(updaterPath);
    const std::wstring patcher = ToLowerWide(patcherExe);
    // The updater goes first so that a self-update starts the new one; the
    // patcher goes last because installing it ends the run. An entry named
    // like both counts as the updater. Stable: equal ranks keep manifest order.
    const auto rest = std::stable_partition(list.begin(), list.end(), [&](const ManifestEntry& entry) {
        return ToLowerWide(entry.path) == updater;
    });
    std::stable_partition(rest, list.end(),
                          [&](const ManifestEntry& entry) { return ToLowerWide(entry.path) != patcher; });
}
