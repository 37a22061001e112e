// Drives another program's window from outside, as a user and a screen reader
// would: finds it, reads its controls, clicks, answers message boxes, waits.
//
//   window_driver.exe                     commands from stdin, one per line
//   window_driver.exe "cmd args" ...      each argument one command; stops at the first error
//
// Every command prints one line: "OK" and its values, or "ERR" and a reason.
// Texts are UTF-8 with backslash, tab, CR and LF escaped as \\ \t \r \n. The
// full command list is in tests/window/README.md. Times are in milliseconds;
// every wait is bounded by the time-out it is given.

#include <cstdint>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include <commctrl.h>

#include "driver_support.h"

namespace {

HWND Target = nullptr;  // the window under test, chosen by "find"

// A control of the target: a decimal identifier, "text=<window text>",
// "icon" (the picture control) or "window" (the target itself).
HWND Control(const std::wstring& selector) {
    if (Target == nullptr) return nullptr;
    if (selector == L"window") return Target;
    if (selector == L"icon") return FindChild(Target, [](HWND child) {
               return ClassOf(child) == L"Static" && (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
           });
    if (selector.rfind(L"text=", 0) == 0) {
        const std::wstring text = selector.substr(5);
        return FindChild(Target, [&text](HWND child) { return TextOf(child) == text; });
    }
    return ::GetDlgItem(Target, static_cast<int>(std::wcstol(selector.c_str(), nullptr, 10)));
}

Reply RequireTarget() { return Target != nullptr ? Reply::Ok() : Reply::Error(L"no target window; use find"); }

Reply Find(const Args& args) {
    const std::wstring className = args.Word(1);
    HWND found = nullptr;
    // Visible means created, placed and shown: its controls exist by then.
    const bool ok = WaitUntil(args.Number(2), [&] {
        found = ::FindWindowW(className.c_str(), nullptr);
        return found != nullptr && ::IsWindowVisible(found);
    });
    if (!ok) return Reply::Error(L"no visible window of class " + className);
    Target = found;
    return Reply::Ok(HandleText(found) + L" " + std::to_wstring(ProcessOf(found)));
}

Reply Rect(const Args& args) {
    const HWND control = Control(args.Rest(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, Target, reinterpret_cast<POINT*>(&rect), 2);
    return Reply::Ok(Numbers({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}));
}

Reply WindowGeometry(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const std::wstring what = args.Word(0);
    RECT rect{};
    if (what == L"client") {
        ::GetClientRect(Target, &rect);
        POINT origin{0, 0};
        ::ClientToScreen(Target, &origin);
        return Reply::Ok(Numbers({origin.x, origin.y, rect.right, rect.bottom}));
    }
    if (what == L"window-rect") {
        ::GetWindowRect(Target, &rect);
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rect, 0);
    }
    return Reply::Ok(Numbers({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}));
}

Reply State(const Args&) {
    if (!RequireTarget().ok) return RequireTarget();
    if (!::IsWindow(Target)) return Reply::Error(L"window gone");
    return Reply::Ok(Numbers({::IsWindowVisible(Target) ? 1 : 0, ::IsIconic(Target) ? 1 : 0,
                              ::IsZoomed(Target) ? 1 : 0, ::IsWindowEnabled(Target) ? 1 : 0}));
}

Reply Style(const Args&) {
    if (!RequireTarget().ok) return RequireTarget();
    return Reply::Ok(Hex(static_cast<DWORD>(::GetWindowLongPtrW(Target, GWL_STYLE))) + L" " +
                     Hex(static_cast<DWORD>(::GetWindowLongPtrW(Target, GWL_EXSTYLE))));
}

Reply Text(const Args& args) {
    const HWND control = Control(args.Rest(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    return Reply::Ok(Escape(TextOf(control)));
}

Reply Enabled(const Args& args) {
    const HWND control = Control(args.Word(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    return Reply::Ok(::IsWindowEnabled(control) ? L"1" : L"0");
}

Reply Progress(const Args& args) {
    const HWND control = Control(args.Word(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    DWORD_PTR position = 0, low = 0, high = 0;
    const bool ok = ::SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position) &&
                    ::SendMessageTimeoutW(control, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 5000, &low) &&
                    ::SendMessageTimeoutW(control, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &high);
    if (!ok) return Reply::Error(L"progress bar does not answer");
    return Reply::Ok(Numbers({static_cast<long>(position), static_cast<long>(low), static_cast<long>(high)}));
}

Reply WaitEnabled(const Args& args) {
    const HWND control = Control(args.Word(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    const bool wanted = args.Number(2) != 0;
    if (!WaitUntil(args.Number(3), [&] { return (::IsWindowEnabled(control) != FALSE) == wanted; })) {
        return Reply::Error(L"enabled state not reached");
    }
    return Reply::Ok();
}

Reply WaitText(const Args& args) {
    const HWND control = Control(args.Word(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    const std::wstring part = args.Rest(3);
    std::wstring last;
    if (!WaitUntil(args.Number(2), [&] { return (last = TextOf(control)).find(part) != std::wstring::npos; })) {
        return Reply::Error(L"text not shown; last: " + Escape(last));
    }
    return Reply::Ok(Escape(last));
}

Reply WaitVisible(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const bool wanted = args.Word(1) == L"visible";
    const ULONGLONG start = ::GetTickCount64();
    if (!WaitUntil(args.Number(2), [&] { return ::IsWindow(Target) && (::IsWindowVisible(Target) != FALSE) == wanted; })) {
        return Reply::Error(L"visibility not reached");
    }
    return Reply::Ok(std::to_wstring(::GetTickCount64() - start));
}

Reply Gone(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    if (!WaitUntil(args.Number(1), [] { return !::IsWindow(Target); })) return Reply::Error(L"window still there");
    return Reply::Ok();
}

Reply Click(const Args& args) {
    const HWND control = Control(args.Word(1));
    if (control == nullptr) return Reply::Error(L"no such control");
    ::PostMessageW(control, BM_CLICK, 0, 0);
    return Reply::Ok();
}

Reply Command(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const int id = static_cast<int>(args.Number(1));
    const WPARAM code = static_cast<WPARAM>(args.Count() > 2 ? args.Number(2) : BN_CLICKED);
    ::PostMessageW(Target, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(::GetDlgItem(Target, id)));
    return Reply::Ok();
}

Reply Post(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const BOOL posted = ::PostMessageW(Target, static_cast<UINT>(args.Number(1)), static_cast<WPARAM>(args.Number(2)),
                                       static_cast<LPARAM>(args.Number(3)));
    return posted ? Reply::Ok() : Reply::Error(L"post failed");
}

Reply SysCommand(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const std::wstring name = args.Word(1);
    WPARAM command = 0;
    if (name == L"size") command = SC_SIZE;
    if (name == L"maximize") command = SC_MAXIMIZE;
    if (name == L"minimize") command = SC_MINIMIZE;
    if (name == L"restore") command = SC_RESTORE;
    if (name == L"close") command = SC_CLOSE;
    if (name == L"move") command = SC_MOVE;
    if (command == 0) return Reply::Error(L"unknown system command");
    ::PostMessageW(Target, WM_SYSCOMMAND, command, 0);
    return Reply::Ok();
}

Reply CaptionDoubleClick(const Args&) {
    if (!RequireTarget().ok) return RequireTarget();
    RECT rect{};
    ::GetWindowRect(Target, &rect);
    const LPARAM point = MAKELPARAM(rect.left + 40, rect.top + 8);
    ::PostMessageW(Target, WM_NCLBUTTONDBLCLK, HTCAPTION, point);
    return Reply::Ok();
}

// Sizes the target as another program would; the system asks the window for
// its tracking limits on the way.
Reply Resize(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const BOOL done = ::SetWindowPos(Target, nullptr, 0, 0, static_cast<int>(args.Number(1)),
                                     static_cast<int>(args.Number(2)), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    return done ? Reply::Ok() : Reply::Error(L"SetWindowPos failed");
}

Reply Key(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    const WPARAM key = static_cast<WPARAM>(args.Number(1));
    ::PostMessageW(Target, WM_KEYDOWN, key, 1);
    ::PostMessageW(Target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001));
    return Reply::Ok();
}

// The target thread's GUI state: its GUITHREADINFO flags (GUI_INMOVESIZE is 2)
// and the window holding the mouse capture.
Reply GuiState(const Args&) {
    if (!RequireTarget().ok) return RequireTarget();
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(Target, nullptr), &info)) {
        return Reply::Error(L"no GUI thread information");
    }
    return Reply::Ok(Hex(info.flags) + L" " + HandleText(info.hwndCapture));
}

Reply Close(const Args&) {
    if (!RequireTarget().ok) return RequireTarget();
    ::PostMessageW(Target, WM_CLOSE, 0, 0);
    return Reply::Ok();
}

Reply Responsive(const Args& args) {
    if (!RequireTarget().ok) return RequireTarget();
    DWORD_PTR ignored = 0;
    const UINT timeout = static_cast<UINT>(args.Number(1));
    if (!::SendMessageTimeoutW(Target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout, &ignored)) {
        return Reply::Error(L"window does not answer");
    }
    return Reply::Ok();
}

}  // namespace

// Commands on message boxes, other programs' windows and processes live in driver_support.cpp.
Reply RunCommand(const Args& args) {
    const std::wstring name = args.Word(0);
    if (name == L"find") return Find(args);
    if (name == L"gone") return Gone(args);
    if (name == L"text") return Text(args);
    if (name == L"rect") return Rect(args);
    if (name == L"client" || name == L"window-rect" || name == L"workarea") return WindowGeometry(args);
    if (name == L"state") return State(args);
    if (name == L"style") return Style(args);
    if (name == L"enabled") return Enabled(args);
    if (name == L"progress") return Progress(args);
    if (name == L"wait-enabled") return WaitEnabled(args);
    if (name == L"wait-text") return WaitText(args);
    if (name == L"wait-visibility") return WaitVisible(args);
    if (name == L"click") return Click(args);
    if (name == L"command") return Command(args);
    if (name == L"post") return Post(args);
    if (name == L"sys") return SysCommand(args);
    if (name == L"caption-dblclk") return CaptionDoubleClick(args);
    if (name == L"close") return Close(args);
    if (name == L"key") return Key(args);
    if (name == L"resize") return Resize(args);
    if (name == L"gui") return GuiState(args);
    if (name == L"responsive") return Responsive(args);
    return RunOtherCommand(args);
}
