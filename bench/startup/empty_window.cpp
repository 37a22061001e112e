// The least a Win32 program does to put a window on the screen: one class,
// one empty window of the patcher's style and client size (760 x 460 at 96 DPI),
// shown and painted by the system's default handling, then the message loop.
// The start-up benchmark holds the patcher against it. Built a second time
// with BENCH_LOAD_PATCHER_LIBRARIES, it first loads the system libraries the
// patcher imports beyond this program's, to show their share of the difference.
#include <initializer_list>

#include "common/win_compat.h"

namespace {

LRESULT CALLBACK EmptyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
#ifdef BENCH_LOAD_PATCHER_LIBRARIES
    for (const wchar_t* library : {L"winhttp.dll", L"bcrypt.dll", L"comctl32.dll", L"gdi32.dll"}) {
        ::LoadLibraryW(library);
    }
#endif
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = EmptyWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = L"BenchEmptyWindow";
    if (::RegisterClassExW(&windowClass) == 0) return 1;
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, 760, 460};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const HWND window = ::CreateWindowExW(0, L"BenchEmptyWindow", L"Empty", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                          frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                          instance, nullptr);
    if (window == nullptr) return 1;
    ::ShowWindow(window, showCommand);
    ::UpdateWindow(window);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
