#include "system/game_launch.h"

#include <utility>
#include <vector>

#include "common/app_paths.h"
#include "common/text.h"
#include "config/error_text.h"
#include "config/settings.h"
#include "system/process_shutdown.h"
#include "system/process_start.h"

namespace {

constexpr DWORD kInputIdleWaitMs = 5000;
constexpr ULONGLONG kWindowSearchMs = 15000;
constexpr DWORD kPollWhileRunningMs = 100;
constexpr DWORD kPollAfterExitMs = 300;
constexpr int kForegroundPasses = 6;
constexpr DWORD kForegroundPassPauseMs = 350;

struct WindowSearch {
    std::wstring imageNameLower;
    std::vector<HWND> windows;
};

// True when something exists at `path`. A failure other than "not found" is
// reported as a failure to start the game, with the system's reason.
bool GameFileExists(const std::wstring& path, std::wstring& errorText) {
    if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        errorText = L"Nie znaleziono pliku gry: " + path;
    } else {
        errorText = L"Nie można uruchomić gry: " + WindowsErrorText(error);
    }
    return false;
}

// Waits for the first window of the game and forces it forward once. Windows of
// any process with the game's image count, not only the one just started.
void AwaitFirstGameWindow(const std::wstring& imageName, HANDLE process) {
    const ULONGLONG deadline = ::GetTickCount64() + kWindowSearchMs;
    while (::GetTickCount64() < deadline) {
        const std::vector<HWND> windows = FindWindowsOfImage(imageName);
        if (!windows.empty()) {
            ForceForegroundWindow(windows.back());
            return;
        }
        const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        ::Sleep(running ? kPollWhileRunningMs : kPollAfterExitMs);
    }
}

}  // namespace

bool LaunchGame(HWND mainWindow, std::wstring& errorText) {
    const std::wstring gamePath = ResolveAppPath(Settings.gameExe);
    if (!GameFileExists(gamePath, errorText)) return false;
    ::ShowWindow(mainWindow, SW_HIDE);

    const ProgramStart start{.program = gamePath, .commandLine = L"\"" + gamePath + L"\"", .showNormal = true};
    StartedProgram game;
    if (!StartProgram(start, L"Nie można uruchomić gry: ", game, errorText)) {
        ::ShowWindow(mainWindow, SW_SHOW);
        ::SetForegroundWindow(mainWindow);
        return false;
    }

    ::AllowSetForegroundWindow(game.processId);  // the game may take the foreground itself
    ::WaitForInputIdle(game.process.Get(), kInputIdleWaitMs);
    const std::wstring imageName = FileNamePart(gamePath);
    AwaitFirstGameWindow(imageName, game.process.Get());
    // Games often replace their first window (a launcher or splash) with the
    // real one, so the foreground is handed over a few more times.
    for (int pass = 0; pass < kForegroundPasses; ++pass) {
        ::Sleep(kForegroundPassPauseMs);
        for (const HWND window : FindWindowsOfImage(imageName)) ForceForegroundWindow(window);
    }
    game.thread.Reset();
    game.process.Reset();
    return true;
}

std::vector<HWND> FindWindowsOfImage(const std::wstring& imageName) {
    WindowSearch search{ToLowerWide(imageName), {}};
    ::EnumWindows(CollectWindowsOfImage, reinterpret_cast<LPARAM>(&search));
    return std::move(search.windows);
}

BOOL CALLBACK CollectWindowsOfImage(HWND window, LPARAM context) noexcept {
    try {
        auto& search = *reinterpret_cast<WindowSearch*>(context);
        if (!::IsWindowVisible(window) || ::GetWindow(window, GW_OWNER) != nullptr) return TRUE;
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        const std::wstring imagePath = ProcessImagePath(processId);
        if (imagePath.empty()) return TRUE;
        if (ToLowerWide(FileNamePart(imagePath)) == search.imageNameLower) search.windows.push_back(window);
    } catch (...) {
        // A window that cannot be looked at is left out.
    }
    return TRUE;
}

void ForceForegroundWindow(HWND window) {
    if (window == nullptr || !::IsWindow(window)) return;
    const HWND foreground = ::GetForegroundWindow();
    const DWORD foregroundThread = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    DWORD windowProcess = 0;
    const DWORD windowThread = ::GetWindowThreadProcessId(window, &windowProcess);
    const DWORD ownThread = ::GetCurrentThreadId();

    // Input attached to both threads lets this thread hand the foreground over.
    const bool attachedToForeground = foregroundThread != 0 && foregroundThread != ownThread &&
                                      ::AttachThreadInput(ownThread, foregroundThread, TRUE);
    const bool attachedToWindow =
        windowThread != 0 && windowThread != ownThread && ::AttachThreadInput(ownThread, windowThread, TRUE);

    ::AllowSetForegroundWindow(windowProcess);
    ::ShowWindowAsync(window, ::IsIconic(window) ? SW_RESTORE : SW_SHOW);
    // Topmost and back lifts it above every window without leaving it topmost.
    constexpr UINT kFlags = SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW;
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, kFlags);
    ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, kFlags);
    ::BringWindowToTop(window);
    ::SetActiveWindow(window);
    ::SetForegroundWindow(window);

    if (attachedToWindow) ::AttachThreadInput(ownThread, windowThread, FALSE);
    if (attachedToForeground) ::AttachThreadInput(ownThread, foregroundThread, FALSE);
}
