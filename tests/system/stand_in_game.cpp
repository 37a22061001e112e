// A stand-in for the game and the configurator: one top-level window that
// reacts to WM_CLOSE as told on the command line.
//   stand_in_game.exe <ready-event-name> close|ignore|<delay-ms>
// Sets the named event once its window exists. Exits with kClosedExitCode when
// its window closes, and by itself after kLifetimeMs so that a failed test
// never leaves it behind.

#include <cwchar>
#include <cwctype>

#include <windows.h>
#include <shellapi.h>

namespace {

constexpr int kClosedExitCode = 7;
constexpr UINT kLifetimeMs = 60000;
constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT_PTR kDelayedCloseTimer = 2;

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
            ::KillTimer(window, wParam);
            ::DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(kClosedExitCode);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) return 2;
    if (std::wcscmp(argv[2], L"ignore") == 0) {
        closeMode = CloseMode::Ignore;
    } else if (std::iswdigit(argv[2][0])) {
        closeMode = CloseMode::Delay;
        closeDelayMs = static_cast<UINT>(std::wcstoul(argv[2], nullptr, 10));
    }
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
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
