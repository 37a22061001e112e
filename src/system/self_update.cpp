#include "system/self_update.h"

#include "common/app_paths.h"
#include "common/handle.h"
#include "config/error_text.h"
#include "config/settings.h"

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

    // CreateProcessW may write into the command line: it gets its own copy.
    std::wstring commandLine =
        BuildUpdaterCommandLine(updaterPath, ::GetCurrentProcessId(), OwnExePath, newExePath);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // Named as the application, so the updater needs no .exe extension.
    if (!::CreateProcessW(updaterPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, AppDirectory.c_str(), &startup, &info)) {
        const DWORD error = ::GetLastError();
        errorText = L"Nie można uruchomić aktualizatora: " + WindowsErrorText(error);
        return false;
    }
    // Declared in this order so the thread handle is closed first.
    KernelHandle process(info.hProcess);
    KernelHandle thread(info.hThread);
    return true;
}
