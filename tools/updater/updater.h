#pragma once
// The self-update helper's work: wait for the patcher to end, put the new
// executable in its place, start it again. Every step goes to patcher.txt
// beside the patcher, each line opened by "Aktualizator: ".

#include "updater_args.h"

// Exit codes. On every failure the old patcher stays runnable and the new file
// stays where it is, so the patcher's next run repeats the handoff.
enum UpdaterExitCode : int {
    kUpdaterDone = 0,               // new patcher in place and started
    kUpdaterBadArguments = 2,       // unusable command line; nothing touched
    kUpdaterPatcherStillRunning = 3,  // the patcher did not end within waitMs; nothing touched
    kUpdaterNewFileMissing = 4,     // no file at --new; nothing touched
    kUpdaterReplaceFailed = 5,      // the new file could not replace the old one
    kUpdaterRestartFailed = 6,      // new patcher in place but it could not be started
    kUpdaterUnexpectedError = 9,    // an exception reached the entry point (out of memory)
};

// Carries out one handoff for `args` (as read by ParseUpdaterArgs). Points the
// log (AppDirectory) at the directory of args.currentExe when that is absolute.
int RunUpdater(const UpdaterArgs& args);
