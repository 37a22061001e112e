#pragma once
// The updater's command line, as the patcher writes it:
//   "<updater>" --pid <id> --current "<patcher.exe>" --new "<patcher.exe.new>"

#include <string>
#include <vector>

#include "common/win_compat.h"

// How long the patcher may take to end before the updater gives up.
constexpr DWORD kPatcherWaitMs = 30000;

struct UpdaterArgs {
    DWORD patcherPid = 0;
    std::wstring currentExe;  // the patcher to replace and start again; kept even when `problem` is set
    std::wstring newExe;      // its verified successor
    std::wstring problem;     // why the arguments cannot be used (Polish); empty when they can
    DWORD waitMs = kPatcherWaitMs;
};

// Reads --pid, --current and --new in any order (the program name not
// included). Each is required once; the id is a non-zero decimal number, both
// paths are absolute and name different files. Anything else sets `problem`.
UpdaterArgs ParseUpdaterArgs(const std::vector<std::wstring>& arguments);
