#include "system/process_shutdown.h"

#include <tlhelp32.h>

#include "common/handle.h"
#include "common/run_flags.h"
#include "config/error_text.h"
#include "config/log.h"

namespace {

constexpr DWORD kPollIntervalMs = 200;
constexpr DWORD kTerminateWaitMs = 3000;
constexpr UINT kForcedExitCode = 0;
constexpr DWORD kImagePathCapacity = 32768;

// Opens every listed process for SYNCHRONIZE and keeps the handles for the whole
// call: while a handle is held the system cannot give the id to a new process,
// so a game that exits during the grace period can never be mistaken for an
// unrelated program that got its id. An id that cannot be opened counts as not
// running, as IsProcessStillRunning would answer; it is left out of the polls
// and the forced phase, so a stranger that takes its id later is never waited
// for or terminated. It is still asked to close.
std::vector<DWORD> PinProcesses(const std::vector<DWORD>& processIds, std::vector<KernelHandle>& pins) {
    std::vector<DWORD> pinned;
    for (DWORD id : processIds) {
        KernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, id));
        if (!process) continue;
        pins.push_back(std::move(process));
        pinned.push_back(id);
    }
    return pinned;
}

void AskToClose(const std::vector<DWORD>& processIds) {
    for (DWORD id : processIds) {
        ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&id));
    }
}

bool AnyStillRunning(const std::vector<DWORD>& processIds) {
    for (DWORD id : processIds) {
        if (IsProcessStillRunning(id)) return true;
    }
    return false;
}

enum class GraceOutcome { AllClosed, Cancelled, TimedOut };

GraceOutcome WaitForClose(const std::vector<DWORD>& processIds, ULONGLONG graceMs) {
    const ULONGLONG deadline = ::GetTickCount64() + graceMs;
    while (::GetTickCount64() < deadline) {
        if (!AnyStillRunning(processIds)) return GraceOutcome::AllClosed;
        if (CancelRequested.load()) return GraceOutcome::Cancelled;
        ::Sleep(kPollIntervalMs);
    }
    return GraceOutcome::TimedOut;
}

bool TerminateOne(DWORD id, const ShutdownPlan& plan, std::wstring& errorText) {
    KernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process) {
        const DWORD error = ::GetLastError();
        errorText = plan.openFailedText + WindowsErrorText(error);
        return false;
    }
    if (!::TerminateProcess(process.Get(), kForcedExitCode)) {
        const DWORD error = ::GetLastError();
        errorText = plan.terminateFailedText + WindowsErrorText(error);
        return false;
    }
    ::WaitForSingleObject(process.Get(), kTerminateWaitMs);  // the final check judges the outcome
    return true;
}

}  // namespace

std::vector<RunningProcess> SnapshotProcesses() {
    std::vector<RunningProcess> processes;
    SnapshotHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
         more = ::Process32NextW(snapshot.Get(), &entry)) {
        processes.push_back({entry.th32ProcessID, entry.szExeFile});
    }
    return processes;
}

std::wstring ProcessImagePath(DWORD processId) {
    KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return {};
    std::wstring buffer(kImagePathCapacity, L'\0');
    DWORD size = kImagePathCapacity;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, buffer.data(), &size)) return {};
    buffer.resize(size);
    return buffer;
}

BOOL CALLBACK PostCloseToProcessWindows(HWND window, LPARAM processId) noexcept {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == *reinterpret_cast<const DWORD*>(processId)) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

bool IsProcessStillRunning(DWORD processId) {
    KernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return false;
    return ::WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

bool ShutdownProcesses(const std::vector<DWORD>& processIds, const ShutdownPlan& plan,
                       std::wstring& errorText) {
    if (processIds.empty()) return true;
    std::vector<KernelHandle> pins;
    const std::vector<DWORD> pinnedIds = PinProcesses(processIds, pins);

    WriteLog(plan.askLog);
    AskToClose(processIds);

    switch (WaitForClose(pinnedIds, plan.graceMs)) {
        case GraceOutcome::AllClosed:
            WriteLog(plan.closedLog);
            return true;
        case GraceOutcome::Cancelled:
            errorText = L"Operacja została anulowana.";
            return false;
        case GraceOutcome::TimedOut:
            break;
    }

    WriteLog(plan.timeoutLog);
    for (DWORD id : pinnedIds) {
        if (!IsProcessStillRunning(id)) continue;
        if (!TerminateOne(id, plan, errorText)) return false;
    }
    if (AnyStillRunning(pinnedIds)) {
        errorText = plan.stillRunningText;
        return false;
    }
    WriteLog(plan.forcedLog);
    return true;
}
