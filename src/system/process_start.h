#pragma once
// Starting another program from the game directory.

#include <string>

#include "common/handle.h"
#include "common/win_compat.h"

struct ProgramStart {
    std::wstring program;      // full path; named as the application, so no .exe extension is needed
    std::wstring commandLine;  // the whole line, the quoted program first; passed as it is
    DWORD creationFlags = 0;
    bool showNormal = false;   // ask for SW_SHOWNORMAL (STARTF_USESHOWWINDOW); otherwise no start-up fields
};

// Declared in this order so that the thread handle is closed before the process handle.
struct StartedProgram {
    KernelHandle process;
    KernelHandle thread;
    DWORD processId = 0;
};

// CreateProcessW with handles not inherited, this process's environment and
// AppDirectory as the current directory; nothing is waited for. False with
// `errorText` = `failurePrefix` + the system's reason when it cannot start.
bool StartProgram(const ProgramStart& start, const std::wstring& failurePrefix, StartedProgram& started,
                  std::wstring& errorText);
