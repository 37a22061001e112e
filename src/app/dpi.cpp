#include "app/dpi.h"

namespace {

// The address of a user32 export, or null when this system's user32 lacks it.
template <typename Function>
Function User32Export(const char* name) {
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr) return nullptr;
    // Through a plain function pointer type, which converts to any other.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(user32, name)));
}

using GetDpiForSystemFn = UINT(WINAPI*)();
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

}  // namespace

int QuerySystemDpi() {
    if (const auto getDpiForSystem = User32Export<GetDpiForSystemFn>("GetDpiForSystem")) {
        const int dpi = static_cast<int>(getDpiForSystem());
        if (IsUsableDpi(dpi)) return dpi;
    }
    const HDC screen = ::GetDC(nullptr);
    if (screen == nullptr) return 96;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

int QueryWindowDpi(HWND window) {
    if (const auto getDpiForWindow = User32Export<GetDpiForWindowFn>("GetDpiForWindow")) {
        const int dpi = static_cast<int>(getDpiForWindow(window));
        if (IsUsableDpi(dpi)) return dpi;
    }
    return QuerySystemDpi();
}

bool AdjustWindowRectForDpi(RECT& rect, DWORD style, int dpi) {
    if (const auto adjustForDpi = User32Export<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi")) {
        return adjustForDpi(&rect, style, FALSE, 0, static_cast<UINT>(dpi)) != FALSE;
    }
    return ::AdjustWindowRectEx(&rect, style, FALSE, 0) != FALSE;
}
