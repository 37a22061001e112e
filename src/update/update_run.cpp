#include "update/update_run.h"

#include "app/window_messages.h"
#include "common/run_flags.h"
#include "config/log.h"

// Placeholder until the run lands: ends at once as an up-to-date run.
void UpdateWorker() {
    RunActive.exchange(true);
    CancelRequested.exchange(false);
    PostWindowNumber(WM_PATCHER_DONE, 1);
    RunActive.exchange(false);
}

void ReportFailure(const std::wstring& message) {
    WriteLog(L"BLAD: " + message);
    PostWindowNumber(WM_PATCHER_DONE, 0);
}
