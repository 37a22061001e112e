// Program entry: one patcher per logon session, the main window sized for the
// screen and its scaling, the message loop, and an orderly stop of the run.

#include "app/dll_loading.h"
#include "app/dpi.h"
#include "app/main_window.h"
#include "app/window_layout.h"
#include "common/app_paths.h"
#include "common/handle.h"
#include "common/win_compat.h"
#include "config/crash_report.h"
#include "update/run_report.h"
#include "update/update_runner.h"

#include <commctrl.h>  // after windows.h, whose types it uses

namespace {

constexpr wchar_t kMutexName[] = L"Local\\Zerandis_Patcher_SingleInstance";  // per logon session
constexpr wchar_t kWindowClass[] = L"ZerandisPatcherWindow";
// No sizing border and no maximise box: the window has one size.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void ShowStartError(const wchar_t* text) { ::MessageBoxW(nullptr, text, kPatcherCaption, MB_OK | MB_ICONERROR); }

// The progress-bar class of the common controls, bound at run time from
// System32 (comctl32.dll is no KnownDLL); like every system DLL, one that
// cannot be loaded ends the program with a message.
void InitProgressBarClass() {
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE library = LoadRequiredSystemLibrary("comctl32.dll");
    const auto init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void*>(RequiredSystemFunction(library, "comctl32.dll", "InitCommonControlsEx")));
    const INITCOMMONCONTROLSEX commonControls{sizeof(commonControls), ICC_PROGRESS_CLASS};
    init(&commonControls);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(kAppIconId));
    windowClass.hIconSm = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON,
                                                          ::GetSystemMetrics(SM_CXSMICON),
                                                          ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&windowClass) != 0;
}

// The window size whose client area fits `work` at the system DPI, which the
// window scales for until it knows its own.
SIZE FittedWindowSize(const RECT& work) {
    const int dpi = QuerySystemDpi();
    SetStartDpi(dpi);
    const ClientSize base = BaseClientSize(dpi);
    RECT frame{0, 0, base.width, base.height};
    AdjustWindowRectForDpi(frame, kWindowStyle, dpi);
    const ClientSize client = FitClientSize(work.right - work.left, work.bottom - work.top,
                                            (frame.right - frame.left) - base.width,
                                            (frame.bottom - frame.top) - base.height, dpi);
    RECT outer{0, 0, client.width, client.height};
    AdjustWindowRectForDpi(outer, kWindowStyle, dpi);
    return SIZE{outer.right - outer.left, outer.bottom - outer.top};
}

void CentreInWorkArea(HWND window, const RECT& work) {
    RECT placed{};
    ::GetWindowRect(window, &placed);
    const int x = work.left + ((work.right - work.left) - (placed.right - placed.left)) / 2;
    const int y = work.top + ((work.bottom - work.top) - (placed.bottom - placed.top)) / 2;
    ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

int RunMessageLoop() {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

// The program does not end under a running update: the run sees the cancel
// flag at its next check and returns.
// A run still blocked in a platform call after the wait (a server that keeps
// a request waiting for its answer) does not keep the closed patcher alive:
// the process ends at once, with `exitCode`. TerminateProcess rather than
// ExitProcess: the latter runs every DLL's detach code, which can wait for
// ever on a lock the blocked worker holds inside WinHTTP. The log is written
// line by line and the next run removes the staging file this one leaves.
void StopUpdateRun(int exitCode) {
    if (!StopUpdateWorker()) {
        AwaitCrashReport();  // a worker that faulted keeps the crash's exit code
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(exitCode));
    }
    // Texts the run posted after the window went away are still ours.
    ReclaimWindowTexts(MainWindow);
    ReleaseWindowResources();
}

int RunPatcher(HINSTANCE instance, int showCommand) {
    KernelHandle instanceMutex(::CreateMutexW(nullptr, TRUE, kMutexName));
    const DWORD mutexError = ::GetLastError();
    if (!instanceMutex || mutexError == ERROR_ALREADY_EXISTS) {
        ::MessageBoxW(nullptr, L"Patcher jest już uruchomiony.", kPatcherCaption, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (!InitAppPathsFromModule()) {
        ShowStartError(L"Nie można ustalić katalogu patchera.");
        return 1;
    }
    InitProgressBarClass();
    if (!RegisterMainWindowClass(instance)) {
        ShowStartError(L"Nie można zarejestrować okna patchera.");
        return 1;
    }

    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const SIZE size = FittedWindowSize(work);
    const HWND window = ::CreateWindowExW(0, kWindowClass, kPatcherCaption, kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                          size.cx, size.cy, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        ShowStartError(L"Nie można utworzyć okna patchera.");
        StopUpdateRun(1);
        return 1;
    }
    CentreInWorkArea(window, work);
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);

    const int exitCode = RunMessageLoop();
    StopUpdateRun(exitCode);
    return exitCode;
}  // the instance mutex is closed last

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // First thing: winhttp and bcrypt are delay-loaded and comctl32 is bound
    // at run time, all after this. A crash ends the process with 1, however
    // it ends (InstallCrashReporting).
    LimitDllSearchToSystem32();
    InstallCrashReporting();
    try {
        return RunPatcher(instance, showCommand);
    } catch (...) {
        // Nothing leaves the program through std::terminate.
        return 1;
    }
}
