#pragma once
// No crash ends silently: a fault nothing handles (an access violation, a
// stack overflow, a C++ exception that reaches std::terminate) leaves one
// "BLAD: " line in the log, a minidump beside it (patcher-crash.dmp) and an
// owner-less message box, and the process ends with exit code 1.

// The code the log line shows for std::terminate (a C++ exception that no
// handler takes, or one leaving a noexcept function). The customer bit is
// set, so no Windows exception has it.
constexpr unsigned long kTerminateExceptionCode = 0xE05A0001;

// Installs the last-chance handlers of the process: the unhandled-exception
// filter (every thread, those started later too) and the terminate handler.
// The log goes to AppDirectory once it is set, to the executable's folder
// before. Call first thing in the entry point. Nothing is loaded or started
// until a crash, so a run that does not crash is unchanged.
void InstallCrashReporting();
