#include "update/update_runner.h"

#include <chrono>
#include <thread>

#include "common/run_flags.h"
#include "common/win_compat.h"
#include "config/crash_report.h"
#include "update/run_report.h"
#include "update/update_run.h"

namespace {

constexpr wchar_t kThreadNotStartedText[] = L"Nie można uruchomić wątku aktualizacji.";
using SteadyClock = std::chrono::steady_clock;
// How long the exit waits for a cancelled run; a platform call that ignores
// the cancel must not keep a closed patcher alive.
constexpr auto kStopWait = std::chrono::milliseconds(1500);
constexpr DWORD kStopPollMs = 10;

// The thread of the current or last run; joined before the next run and at exit.
std::thread WorkerThread;

void JoinWorker() {
    if (WorkerThread.joinable()) WorkerThread.join();
}

}  // namespace

bool UpdateRunActive() { return RunActive.load(); }

void StartUpdateWorker() {
    if (RunActive.load()) return;
    JoinWorker();
    // Both before the thread exists: a close in the instant before the run's
    // first step still asks first (the run sets RunActive again), and a cancel
    // that comes then is the new run's, never cleared by it.
    RunActive.exchange(true);
    CancelRequested.exchange(false);
    try {
        WorkerThread = std::thread([] {
            GuardThreadStack();
            UpdateWorker();
        });
    } catch (...) {
        RunActive.exchange(false);
        ReportFailure(kThreadNotStartedText);
    }
}

void RequestCancel() {
    // Only a flag: the worker's network handles are the worker's alone, and
    // it reads the flag before each request and between reads.
    CancelRequested.exchange(true);
}

bool StopUpdateWorker() {
    RequestCancel();
    const SteadyClock::time_point deadline = SteadyClock::now() + kStopWait;
    while (RunActive.load() && SteadyClock::now() < deadline) ::Sleep(kStopPollMs);
    if (RunActive.load()) return false;
    JoinWorker();
    return true;
}
