#include "updater.h"

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "config/error_text.h"
#include "config/log.h"
#include "system/file_replace.h"
#include "system/process_start.h"

namespace {

void LogStep(const std::wstring& text) { WriteLog(L"Aktualizator: " + text); }

// Failures start with the same "BLAD: " that support looks for in the patcher's lines.
void LogFailure(const std::wstring& text) { WriteLog(L"Aktualizator: BLAD: " + text); }

// True once the patcher has ended. An id that cannot be opened counts as
// ended: if the patcher still ran after all, the replacement would find its
// executable in use and fail safely.
bool WaitForPatcher(const UpdaterArgs& args) {
    const std::wstring pid = L"(PID: " + std::to_wstring(args.patcherPid) + L")";
    // Opened once, before waiting: while the handle is held the id cannot pass
    // to another process. An id already reused by the time we open it makes
    // us wait for a stranger, which the bound below cuts short.
    KernelHandle patcher(::OpenProcess(SYNCHRONIZE, FALSE, args.patcherPid));
    const DWORD openError = patcher ? ERROR_SUCCESS : ::GetLastError();
    LogStep(L"oczekiwanie na zakończenie patchera " + pid + L".");
    if (!patcher) {
        LogStep(openError == ERROR_INVALID_PARAMETER
                    ? L"proces patchera " + pid + L" już się zakończył."
                    : L"nie można otworzyć procesu patchera " + pid + L": " + WindowsErrorText(openError));
        return true;
    }
    const DWORD result = ::WaitForSingleObject(patcher.Get(), args.waitMs);
    if (result == WAIT_OBJECT_0) {
        LogStep(L"patcher zakończył działanie.");
        return true;
    }
    if (result == WAIT_TIMEOUT) {
        LogFailure(L"Patcher " + pid + L" nadal działa po " + std::to_wstring(args.waitMs / 1000) +
                   L" s. Plik patchera pozostaje bez zmian.");
    } else {
        const DWORD error = ::GetLastError();
        LogFailure(L"Nie można zaczekać na zakończenie patchera " + pid + L": " + WindowsErrorText(error));
    }
    return false;
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(LongPathForm(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// As a player would start it: quoted path, no arguments, from its own directory.
bool StartPatcher(const std::wstring& exePath, std::wstring& errorText) {
    const ProgramStart start{.program = exePath, .commandLine = L"\"" + exePath + L"\""};
    StartedProgram started;
    return StartProgram(start, L"Nie można uruchomić patchera: ", started, errorText);
}

}  // namespace

int RunUpdater(const UpdaterArgs& args) {
    // patcher.txt lies beside the patcher; without an absolute --current there
    // is nowhere sensible to log to.
    const bool logKnown = IsAbsolutePath(args.currentExe);
    if (logKnown) SetAppPaths(args.currentExe);
    if (!args.problem.empty() || !logKnown) {
        if (logKnown) LogFailure(L"Nieprawidłowe argumenty wywołania: " + args.problem + L".");
        return kUpdaterBadArguments;
    }

    if (!WaitForPatcher(args)) return kUpdaterPatcherStillRunning;
    if (!IsFile(args.newExe)) {
        LogFailure(L"Brak nowego pliku patchera: " + args.newExe);
        return kUpdaterNewFileMissing;
    }
    // One rename: until it succeeds the old executable stays whole and runnable,
    // and on failure the new file is left for the next handoff.
    std::wstring errorText;
    if (!ReplaceLocalFile(args.newExe, args.currentExe, errorText)) {
        LogFailure(errorText);
        return kUpdaterReplaceFailed;
    }
    LogStep(L"podmieniono plik patchera: " + args.currentExe);
    if (!StartPatcher(args.currentExe, errorText)) {
        LogFailure(errorText);
        return kUpdaterRestartFailed;
    }
    LogStep(L"uruchomiono patcher: " + args.currentExe);
    return kUpdaterDone;
}
