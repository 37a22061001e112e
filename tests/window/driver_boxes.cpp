// Driver commands beyond the target window: message boxes, the foreground
// window, other programs' windows, processes and pauses.

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "driver_support.h"

namespace {

std::wstring BoxText(HWND box) {
    const HWND text = FindChild(box, [](HWND child) {
        return SameText(ClassOf(child), L"Static") &&
               (::GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON && !TextOf(child).empty();
    });
    return text != nullptr ? TextOf(text) : L"";
}

// Visible message boxes, of process `processId` when it is not 0, whose text contains `part`.
std::vector<HWND> MessageBoxes(DWORD processId, const std::wstring& part) {
    return TopLevelWindows([&](HWND window) {
        return ::IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
               (processId == 0 || ProcessOf(window) == processId) &&
               BoxText(window).find(part) != std::wstring::npos;
    });
}

std::wstring Describe(HWND box) {
    return HandleText(box) + L" " + HandleText(::GetWindow(box, GW_OWNER)) + L" " + std::to_wstring(ProcessOf(box)) +
           L" " + Escape(TextOf(box)) + L"\t" + Escape(BoxText(box));
}

Reply Box(const Args& args) {
    const DWORD processId = static_cast<DWORD>(args.Number(2));
    std::vector<HWND> boxes;
    if (!WaitUntil(args.Number(1), [&] { return !(boxes = MessageBoxes(processId, L"")).empty(); })) {
        return Reply::Error(L"no message box");
    }
    return Reply::Ok(Describe(boxes.front()));
}

Reply NoBox(const Args& args) {
    const DWORD processId = static_cast<DWORD>(args.Number(2));
    std::vector<HWND> boxes;
    if (WaitUntil(args.Number(1), [&] { return !(boxes = MessageBoxes(processId, L"")).empty(); })) {
        return Reply::Error(L"message box shown: " + Describe(boxes.front()));
    }
    return Reply::Ok();
}

Reply AnswerBox(const Args& args) {
    const std::wstring answer = args.Word(1);
    int button = 0;
    if (answer == L"yes") button = IDYES;
    if (answer == L"no") button = IDNO;
    if (answer == L"ok") button = IDOK;
    if (button == 0) return Reply::Error(L"answer must be yes, no or ok");
    const std::wstring part = args.Rest(3);
    std::vector<HWND> boxes;
    if (!WaitUntil(args.Number(2), [&] { return !(boxes = MessageBoxes(0, part)).empty(); })) {
        return Reply::Error(L"no message box with that text");
    }
    const HWND box = boxes.front();
    const HWND control = ::GetDlgItem(box, button);
    if (control == nullptr) return Reply::Error(L"the box has no such button");
    const std::wstring description = Describe(box);
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return Reply::Ok(description);
}

Reply Foreground(const Args&) {
    const HWND window = ::GetForegroundWindow();
    if (window == nullptr) return Reply::Ok(L"0 0 \t");
    return Reply::Ok(HandleText(window) + L" " + std::to_wstring(ProcessOf(window)) + L" " + Escape(ClassOf(window)) +
                     L"\t" + Escape(TextOf(window)));
}

std::vector<HWND> VisibleOfClass(const std::wstring& className) {
    return TopLevelWindows([&](HWND window) { return ::IsWindowVisible(window) && ClassOf(window) == className; });
}

Reply Windows(const Args& args) {
    const std::vector<HWND> windows = VisibleOfClass(args.Word(1));
    std::wstring text = std::to_wstring(windows.size());
    for (const HWND window : windows) text += L" " + HandleText(window) + L":" + std::to_wstring(ProcessOf(window));
    return Reply::Ok(text);
}

Reply WaitWindow(const Args& args) {
    std::vector<HWND> windows;
    if (!WaitUntil(args.Number(2), [&] { return !(windows = VisibleOfClass(args.Word(1))).empty(); })) {
        return Reply::Error(L"no visible window of that class");
    }
    return Reply::Ok(HandleText(windows.front()) + L" " + std::to_wstring(ProcessOf(windows.front())));
}

Reply CloseClass(const Args& args) {
    const std::wstring className = args.Word(1);
    const std::vector<HWND> windows = TopLevelWindows([&](HWND window) { return ClassOf(window) == className; });
    for (const HWND window : windows) ::PostMessageW(window, WM_CLOSE, 0, 0);
    return Reply::Ok(std::to_wstring(windows.size()));
}

Reply WaitExit(const Args& args) {
    const HANDLE process =
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(args.Number(1)));
    if (process == nullptr) return Reply::Error(L"process cannot be opened");
    const DWORD waited = ::WaitForSingleObject(process, static_cast<DWORD>(args.Number(2)));
    DWORD code = 0;
    const bool ended = waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    if (!ended) return Reply::Error(L"still running");
    return Reply::Ok(std::to_wstring(code));
}

Reply Terminate(const Args& args) {
    const HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(args.Number(1)));
    if (process == nullptr) return Reply::Error(L"process cannot be opened");
    const BOOL done = ::TerminateProcess(process, 99);
    ::CloseHandle(process);
    return done ? Reply::Ok() : Reply::Error(L"terminate failed");
}

Reply SystemDpi(const Args&) {
    const HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return Reply::Ok(std::to_wstring(dpi));
}

}  // namespace

Reply RunOtherCommand(const Args& args) {
    const std::wstring name = args.Word(0);
    if (name == L"box") return Box(args);
    if (name == L"no-box") return NoBox(args);
    if (name == L"answer") return AnswerBox(args);
    if (name == L"foreground") return Foreground(args);
    if (name == L"windows") return Windows(args);
    if (name == L"wait-window") return WaitWindow(args);
    if (name == L"close-class") return CloseClass(args);
    if (name == L"wait-exit") return WaitExit(args);
    if (name == L"terminate") return Terminate(args);
    if (name == L"dpi") return SystemDpi(args);
    if (name == L"sleep") {
        ::Sleep(static_cast<DWORD>(args.Number(1)));
        return Reply::Ok();
    }
    if (name == L"ping") return Reply::Ok(L"pong");
    return Reply::Error(L"unknown command: " + name);
}
