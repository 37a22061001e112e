// One full repair of a game directory, as the update run does it, timed inside
// the process so that Wine's start-up is left out:
//   repair_bench GAME_DIR
// GAME_DIR holds a patcher.ini naming the server. The run's own steps in its
// own order: settings, manifest, the check phase, the download order, then
// RunDownloadPhase (download, verify, install, summary). There is no window
// (MainWindow stays null), so every post is made and dropped. Prints
//   listed=<n> stale=<n> ok=<0|1> seconds=<check + download phase>
//   check_seconds=<s> transfer_seconds=<the run's summed transfer time>
//   peak_private=<PeakPagefileUsage> private=<PrivateUsage>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/app_paths.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "config/settings.h"
#include "net/transfer.h"
#include "update/check_phase.h"
#include "update/download_phase.h"
#include "update/run_context.h"
#include "update/url_building.h"

#include <psapi.h>  // after windows.h, whose types it uses

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool LoadManifest(RunContext& run) {
    if (!LoadSettings(run.errorText)) return false;
    std::vector<char> bytes;
    const std::wstring url = BuildFileUrl(Settings.baseUrl, Settings.manifestPath);
    return FetchToMemory(url, bytes, run.errorText) && ParseManifest(bytes, run.manifest, run.errorText);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: repair_bench GAME_DIR\n");
        return 2;
    }
    SetAppPaths(AppendPath(argv[1], L"Zerandis_Patcher.exe"));
    RunContext run;
    if (!LoadManifest(run)) {
        std::fprintf(stderr, "%s\n", WideToUtf8(run.errorText).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    CheckLocalFiles(run);
    const double checkSeconds = SecondsSince(start);
    OrderDownloadList(run.downloadList, Settings.updaterPath, Settings.patcherExe);
    run.patcherExeLower = ToLowerWide(Settings.patcherExe);
    RunDownloadPhase(run);
    const double seconds = SecondsSince(start);

    PROCESS_MEMORY_COUNTERS_EX memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory));
    // Every stale file installed: the summary was reached.
    const bool ok = !run.downloadList.empty() && run.progress.bytesCompleted == run.progress.bytesTotal;
    std::printf("listed=%zu stale=%zu ok=%d seconds=%.6f check_seconds=%.6f transfer_seconds=%.6f "
                "peak_private=%llu private=%llu\n",
                run.manifest.size(), run.downloadList.size(), ok ? 1 : 0, seconds, checkSeconds,
                run.totalDownloadSeconds, static_cast<unsigned long long>(memory.PeakPagefileUsage),
                static_cast<unsigned long long>(memory.PrivateUsage));
    if (!ok) std::fprintf(stderr, "the run did not finish: %s\n", WideToUtf8(run.errorText).c_str());
    return ok ? 0 : 1;
}
