// A stand-in for the game and the configurator: one top-level window that
// reacts to WM_CLOSE as told on the command line.
//   stand_in_game.exe <ready-event-name> close|ignore|<delay-ms>
// Sets the named event once its window exists. Exits with kClosedExitCode when
// its window closes, and by itself after kLifetimeMs so that a failed test
// never leaves it behind.
//   stand_in_game.exe
// Without arguments it stands in for the game started by the play button: it
// writes its command line and current directory (UTF-8, one per line) into
// stand_in_launch.txt of its current directory, and shows its window after
// STAND_IN_GAME_WINDOW_DELAY_MS milliseconds (default 0); closing it ends it.
//   stand_in_game.exe <ready-event-name> hold <ms> <file>
// Stands in for a virus scanner: holds <file> open (sharing read and delete)
// for <ms> milliseconds, then ends.

#include <cwchar>
#include <cwctype>
#include <string>

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int kClosedExitCode = 7;
constexpr UINT kLifetimeMs = 60000;
constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT_PTR kDelayedCloseTimer = 2;
constexpr UINT_PTR kShowTimer = 3;
constexpr UINT_PTR kReleaseTimer = 4;
HANDLE heldFile = INVALID_HANDLE_VALUE;

enum class CloseMode { Close, Ignore, Delay };
CloseMode closeMode = CloseMode::Close;
UINT closeDelayMs = 0;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
        case WM_CLOSE:
            if (closeMode == CloseMode::Ignore) return 0;
            if (closeMode == CloseMode::Delay) {
                ::SetTimer(window, kDelayedCloseTimer, closeDelayMs, nullptr);
                return 0;
            }
            ::DestroyWindow(window);
            return 0;
        case WM_TIMER:
            if (wParam == kLifetimeTimer) ::ExitProcess(3);
            if (wParam == kShowTimer) {
                ::KillTimer(window, wParam);
                ::ShowWindow(window, SW_SHOWNORMAL);
                return 0;
            }
            ::KillTimer(window, wParam);
            if (wParam == kReleaseTimer) ::CloseHandle(heldFile);
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(kClosedExitCode);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void RecordLaunch() {
    wchar_t directory[MAX_PATH * 4] = L"";
    ::GetCurrentDirectoryW(MAX_PATH * 4, directory);
    std::wstring record = std::wstring(::GetCommandLineW()) + L"\r\n" + directory + L"\r\n";
    std::string bytes(record.size() * 4, '\0');
    bytes.resize(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, record.c_str(), static_cast<int>(record.size()),
                                                            bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                                            nullptr)));
    HANDLE file = ::CreateFileW(L"stand_in_launch.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

UINT ShowDelayMs() {
    wchar_t value[32] = L"";
    if (::GetEnvironmentVariableW(L"STAND_IN_GAME_WINDOW_DELAY_MS", value, 32) == 0) return 0;
    return static_cast<UINT>(std::wcstoul(value, nullptr, 10));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const bool launchedAsGame = argv != nullptr && argc == 1;
    if (launchedAsGame) RecordLaunch();
    if (argv == nullptr || (argc < 3 && !launchedAsGame)) return 2;
    if (launchedAsGame) {
        closeMode = CloseMode::Close;
    } else if (std::wcscmp(argv[2], L"ignore") == 0) {
        closeMode = CloseMode::Ignore;
    } else if (std::wcscmp(argv[2], L"hold") == 0 && argc == 5) {
        closeDelayMs = static_cast<UINT>(std::wcstoul(argv[3], nullptr, 10));
        heldFile = ::CreateFileW(argv[4], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 0, nullptr);
        if (heldFile == INVALID_HANDLE_VALUE) return 2;
    } else if (std::iswdigit(argv[2][0])) {
        closeMode = CloseMode::Delay;
        closeDelayMs = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10));
    }
    HANDLE ready = launchedAsGame ? nullptr : ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    ::LocalFree(argv);

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"StandInGameWindow";
    if (!::RegisterClassW(&windowClass)) return 2;
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"Stand-in game", WS_OVERLAPPEDWINDOW,
                                    0, 0, 200, 100, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 2;
    ::SetTimer(window, kLifetimeTimer, kLifetimeMs, nullptr);
    if (launchedAsGame) ::SetTimer(window, kShowTimer, ShowDelayMs(), nullptr);
    if (heldFile != INVALID_HANDLE_VALUE) ::SetTimer(window, kReleaseTimer, closeDelayMs, nullptr);
    if (ready != nullptr) {
        ::SetEvent(ready);
        ::CloseHandle(ready);
    }

    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
