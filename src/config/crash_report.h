#pragma once
// No crash ends silently: a fault nothing handles (an access violation, a
// stack overflow, a C++ exception that reaches std::terminate) leaves one
// "BLAD: " line in the log, a minidump beside it (patcher-crash.dmp) and an
// owner-less message box, and the process ends with exit code 1.
// Heap corruption is the exception: a program of subsystem 6.x is ended by the
// heap itself, before any of these handlers runs.

#include "common/win_compat.h"

// The code the log line shows for std::terminate (a C++ exception that no
// handler takes, or one leaving a noexcept function). The customer bit is
// set, so no Windows exception has it.
constexpr unsigned long kTerminateExceptionCode = 0xE05A0001;

// Installs the last-chance handlers of the process: the unhandled-exception
// filter (every thread, those started later too), the terminate handler, the
// parked reporting thread, the stack guarantee of the calling thread, and the
// wait at exit that keeps a crash's exit code 1. Asks Windows not to swallow
// faults inside window procedures the system calls back (64-bit Windows);
// where it cannot be asked, such a fault in the program's own code inside the
// window procedure is reported here. The log goes to AppDirectory once it is
// set, to the executable's folder before. Call first thing in the entry point.
void InstallCrashReporting();

// Keeps room on the calling thread's stack for the report of its own stack
// overflow. Called by InstallCrashReporting for its thread; every thread the
// program starts calls it first.
void GuardThreadStack();

// Marks the window procedure's frames (the window thread only): a fault of the
// program's own code inside them is reported even where the system would
// swallow it. Put one at the top of the window procedure.
class WindowProcedureScope {
public:
    WindowProcedureScope();
    ~WindowProcedureScope();
    WindowProcedureScope(const WindowProcedureScope&) = delete;
    WindowProcedureScope& operator=(const WindowProcedureScope&) = delete;
};

// Does not return once a crash report has begun (the report ends the process
// with exit code 1); returns at once otherwise. For every way the program
// ends itself, so a player who closes the window under the crash message does
// not end the process with 0.
void AwaitCrashReport();

// kernel32's GetProcessUserModeExceptionPolicy and SetProcessUserModeExceptionPolicy
// (Windows 7 SP1, Windows 7 and Vista with KB976038).
using GetExceptionPolicyCall = BOOL(WINAPI*)(LPDWORD flags);
using SetExceptionPolicyCall = BOOL(WINAPI*)(DWORD flags);
constexpr DWORD kCallbackFilterEnabled = 0x1;  // PROCESS_CALLBACK_FILTER_ENABLED

// Clears kCallbackFilterEnabled from the process's policy through `get` and
// `set`, the other flags kept. False when either is missing or fails: the
// system may then swallow faults inside callbacks.
bool StopSwallowingCallbackFaults(GetExceptionPolicyCall get, SetExceptionPolicyCall set);
