#include "system/self_update.h"

#include "common/app_paths.h"
#include "config/settings.h"
#include "system/process_start.h"

namespace {

// Only a not-found answer means the updater is missing. Any other failure of
// the probe (a refused directory, say) is left to CreateProcessW, whose error
// text then names the real cause.
bool IsMissing(const std::wstring& path) {
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::wstring BuildUpdaterCommandLine(const std::wstring& updaterPath, DWORD processId,
                                     const std::wstring& currentExe, const std::wstring& newExe) {
    return L"\"" + updaterPath + L"\" --pid " + std::to_wstring(processId) + L" --current \"" + currentExe +
           L"\" --new \"" + newExe + L"\"";
}

bool HandOffSelfUpdate(const std::wstring& newExePath, std::wstring& errorText) {
    const std::wstring updaterPath = ResolveAppPath(Settings.updaterPath);
    if (IsMissing(updaterPath)) {
        errorText = L"Brakuje pomocnika samoaktualizacji: " + updaterPath;
        return false;
    }

    const ProgramStart start{
        .program = updaterPath,
        .commandLine = BuildUpdaterCommandLine(updaterPath, ::GetCurrentProcessId(), OwnExePath, newExePath),
        .creationFlags = CREATE_NO_WINDOW,
    };
    StartedProgram started;
    return StartProgram(start, L"Nie można uruchomić aktualizatora: ", started, errorText);
}
