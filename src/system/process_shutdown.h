#pragma once
// Closing other programs' processes the way a user would: a close request to
// every top-level window, a grace period, then termination. The game and the
// configurator share this pattern with their own limits and texts.

#include <string>
#include <vector>

#include "common/win_compat.h"

// What one kind of process is told and logged, and how long it may take.
struct ShutdownPlan {
    ULONGLONG graceMs;
    const wchar_t* askLog;           // logged before the close requests go out
    const wchar_t* closedLog;        // logged when all ended within the grace period
    const wchar_t* timeoutLog;       // logged when the forced phase begins
    const wchar_t* openFailedText;   // errorText prefix when one cannot be opened for termination
    const wchar_t* terminateFailedText;  // errorText prefix when TerminateProcess fails
    const wchar_t* stillRunningText;     // errorText when one survives the forced phase
    const wchar_t* forcedLog;        // logged when the forced phase left none running
};

// One process of a Tool Help snapshot.
struct RunningProcess {
    DWORD id;
    std::wstring exeFile;  // executable file name as the snapshot reports it
};

// Every process of a fresh snapshot, in snapshot order; empty when no snapshot
// can be taken.
std::vector<RunningProcess> SnapshotProcesses();

// The full image path of a process; empty when it cannot be opened for a
// limited query or its path cannot be read.
std::wstring ProcessImagePath(DWORD processId);

// EnumWindows callback: `processId` points to one DWORD; posts WM_CLOSE to the
// window when that process owns it. Always continues the enumeration.
BOOL CALLBACK PostCloseToProcessWindows(HWND window, LPARAM processId) noexcept;

// True exactly when the process can be opened for SYNCHRONIZE and has not ended;
// a process that is gone or refuses access counts as not running.
bool IsProcessStillRunning(DWORD processId);

// Asks every listed process to close, waits plan.graceMs polling every 200 ms
// (honouring CancelRequested), then terminates the rest with exit code 0. One
// that cannot be opened for SYNCHRONIZE is asked too, then counts as ended.
// True when none is left running (also for an empty list); false with
// `errorText` set otherwise. Writes its progress lines with WriteLog.
bool ShutdownProcesses(const std::vector<DWORD>& processIds, const ShutdownPlan& plan,
                       std::wstring& errorText);
