// Zerandis_PatcherUpdate.bin: finishes the patcher's self-update.
//   Zerandis_PatcherUpdate.bin --pid <id> --current "<patcher.exe>" --new "<patcher.exe.new>"
// The exit codes are listed in updater.h; the steps go to patcher.txt.

#include <string>
#include <vector>

#include "app/dll_loading.h"
#include "config/crash_report.h"
#include "updater.h"

int wmain(int argc, wchar_t** argv) {
    // A system DLL that loads another by name finds it in System32, not in the
    // patcher folder this program lives in.
    LimitDllSearchToSystem32();
    InstallCrashReporting();
    try {
        const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        return RunUpdater(ParseUpdaterArgs(arguments));
    } catch (...) {
        return kUpdaterUnexpectedError;
    }
}
