#include "update/update_runner.h"

#include <thread>

#include "common/run_flags.h"
#include "update/run_report.h"
#include "update/update_run.h"

namespace {

constexpr wchar_t kThreadNotStartedText[] = L"Nie można uruchomić wątku aktualizacji.";

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
    // Set before the thread exists, so a close in the instant before the run's
    // first step still asks first; the run sets it again.
    RunActive.exchange(true);
    try {
        WorkerThread = std::thread(UpdateWorker);
    } catch (...) {
        RunActive.exchange(false);
        ReportFailure(kThreadNotStartedText);
    }
}

void RequestCancel() { CancelRequested.exchange(true); }

void StopUpdateWorker() {
    RequestCancel();
    JoinWorker();
}
