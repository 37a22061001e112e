#include "system/process_start.h"

#include "common/app_paths.h"
#include "config/error_text.h"

static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOW) == 68, "the 32-bit STARTUPINFOW is 68 bytes");

bool StartProgram(const ProgramStart& start, const std::wstring& failurePrefix, StartedProgram& started,
                  std::wstring& errorText) {
    std::wstring commandLine = start.commandLine;  // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (start.showNormal) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
    }
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(start.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, start.creationFlags,
                          nullptr, AppDirectory.c_str(), &startup, &info)) {
        const DWORD error = ::GetLastError();
        errorText = failurePrefix + WindowsErrorText(error);
        return false;
    }
    started.process.Reset(info.hProcess);
    started.thread.Reset(info.hThread);
    started.processId = info.dwProcessId;
    return true;
}
