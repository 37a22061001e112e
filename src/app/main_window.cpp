#include "app/main_window.h"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include <commctrl.h>

#include "app/dpi.h"
#include "app/window_layout.h"
#include "app/window_messages.h"
#include "app/window_theme.h"
#include "common/handle.h"
#include "config/crash_report.h"
#include "system/game_launch.h"
#include "update/run_report.h"
#include "update/update_runner.h"

namespace {

// The DPI all sizes are scaled for: the system DPI at start, the window's own
// DPI from its creation on.
int CurrentDpi = 96;

constexpr wchar_t kCloseQuestion[] = L"Trwa sprawdzanie lub pobieranie aktualizacji.\nCzy na pewno chcesz przerwać?";
constexpr int kHeaderIconSize = 72;

struct ControlSpec {
    Slot slot;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    int id;
    FontRole font;
};

// Controls in creation order; the header icon follows when it loads.
constexpr ControlSpec kControls[] = {
    {Slot::Header, L"STATIC", L"Zerandis", 0, 0, FontRole::Title},
    {Slot::Subtitle, L"STATIC", L"Automatyczna aktualizacja klienta", 0, 0, FontRole::Body},
    {Slot::Status, L"STATIC", L"Uruchamianie...", 0, IDC_STATUS, FontRole::Body},
    {Slot::Detail, L"STATIC", L"", SS_ENDELLIPSIS, IDC_DETAIL, FontRole::Body},
    {Slot::TotalLabel, L"STATIC", L"POSTĘP CAŁEJ AKTUALIZACJI", 0, IDC_TOTAL_LABEL, FontRole::Semibold},
    {Slot::TotalBar, L"msctls_progress32", nullptr, PBS_SMOOTH, IDC_TOTAL_PROGRESS, FontRole::None},
    {Slot::FileLabel, L"STATIC", L"POSTĘP AKTUALNIE POBIERANEGO PLIKU", 0, IDC_FILE_LABEL, FontRole::Semibold},
    {Slot::FileBar, L"msctls_progress32", nullptr, PBS_SMOOTH, IDC_FILE_PROGRESS, FontRole::None},
    {Slot::Counts, L"STATIC", L"", 0, IDC_COUNTS, FontRole::Body},
    {Slot::Rate, L"STATIC", L"Szacowany czas do końca: obliczanie...", SS_ENDELLIPSIS, IDC_RATE, FontRole::Small},
    {Slot::Repair, L"BUTTON", L"NAPRAW PLIKI", BS_OWNERDRAW, IDC_REPAIR, FontRole::Semibold},
    {Slot::Play, L"BUTTON", L"GRAJ", BS_OWNERDRAW, IDC_PLAY, FontRole::Semibold},
};

// The window's own objects; main thread only.
struct WindowResources {
    std::array<HWND, static_cast<std::size_t>(Slot::Count)> controls{};
    UiFontSet fonts;
    GdiObject backgroundBrush;
    IconHandle headerIcon;
    bool closeQuestionOpen = false;
    // Set from a run's start until the window has shown its end: the worker
    // still frees the run's state after its last post (a 100,000-file
    // manifest takes a while), and a player who closes a finished run is not
    // asked whether to stop it.
    bool runShown = false;
};
WindowResources Ui;

HWND& ControlAt(Slot slot) { return Ui.controls[static_cast<std::size_t>(slot)]; }

HBRUSH BackgroundBrush() { return static_cast<HBRUSH>(Ui.backgroundBrush.Get()); }

// Sends every control its font (WM_SETFONT with redraw).
void ApplyUiFonts() {
    for (const ControlSpec& row : kControls) {
        const HWND control = ControlAt(row.slot);
        const HFONT font = FontFor(Ui.fonts, row.font);
        if (control != nullptr && font != nullptr) {
            ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        }
    }
}

// Creates the four fonts for CurrentDpi and puts them on the controls; on any
// failure the previous fonts stay.
void CreateUiFonts() {
    UiFontSet fonts;
    if (!CreateFontSet(CurrentDpi, fonts)) return;
    std::swap(Ui.fonts, fonts);
    ApplyUiFonts();
}  // the old set, now in `fonts`, is deleted once the controls have the new one

// Places every control for the window's client area at CurrentDpi.
void LayoutControls(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    const WindowLayout layout = ComputeLayout(client.right - client.left, client.bottom - client.top, CurrentDpi);
    for (std::size_t i = 0; i < Ui.controls.size(); ++i) {
        if (Ui.controls[i] == nullptr) continue;
        const Placement& place = layout[i];
        ::SetWindowPos(Ui.controls[i], nullptr, place.x, place.y, place.width, place.height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ::InvalidateRect(window, nullptr, TRUE);
}

void CreateHeaderIcon(HWND window, HINSTANCE instance) {
    const int size = ScaleForDpi(kHeaderIconSize, CurrentDpi);
    IconHandle icon(static_cast<HICON>(
        ::LoadImageW(instance, MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON, size, size, 0)));
    if (!icon) return;
    const HWND control = ::CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 0, 1, 1,
                                           window, nullptr, instance, nullptr);
    if (control == nullptr) return;
    ::SendMessageW(control, STM_SETICON, reinterpret_cast<WPARAM>(icon.Get()), 0);
    ControlAt(Slot::Icon) = control;
    Ui.headerIcon = std::move(icon);
}

void CreateControls(HWND window) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    for (const ControlSpec& row : kControls) {
        ControlAt(row.slot) =
            ::CreateWindowExW(0, row.className, row.text, WS_CHILD | WS_VISIBLE | row.style, 0, 0, 1, 1, window,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance, nullptr);
    }
    for (const Slot bar : {Slot::TotalBar, Slot::FileBar}) {
        ::SendMessageW(ControlAt(bar), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        ::SendMessageW(ControlAt(bar), CCM_SETBKCOLOR, 0, kBarBackgroundColour);
    }
    ::SendMessageW(ControlAt(Slot::TotalBar), PBM_SETBARCOLOR, 0, kTotalBarColour);
    ::SendMessageW(ControlAt(Slot::FileBar), PBM_SETBARCOLOR, 0, kFileBarColour);
    ApplyUiFonts();
    ::EnableWindow(ControlAt(Slot::Play), FALSE);
    CreateHeaderIcon(window, instance);
}

// Starts an update run unless one is active: disables both buttons and resets
// both bars first.
void StartUpdateRun() {
    if (UpdateRunActive()) return;
    ::EnableWindow(ControlAt(Slot::Play), FALSE);
    ::EnableWindow(ControlAt(Slot::Repair), FALSE);
    ::SendMessageW(ControlAt(Slot::TotalBar), PBM_SETPOS, 0, 0);
    ::SendMessageW(ControlAt(Slot::FileBar), PBM_SETPOS, 0, 0);
    Ui.runShown = true;
    StartUpdateWorker();
}

LRESULT OnCreate(HWND window) {
    MainWindow = window;
    Ui.backgroundBrush.Reset(::CreateSolidBrush(kBackgroundColour));
    CurrentDpi = QueryWindowDpi(window);
    CreateUiFonts();
    CreateControls(window);
    LayoutControls(window);
    StartUpdateRun();
    return 0;
}

LRESULT OnEraseBackground(HWND window, HDC dc) {
    if (!Ui.backgroundBrush) return ::DefWindowProcW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(window, &client);
    ::FillRect(dc, &client, BackgroundBrush());
    return 1;
}

LRESULT OnCtlColorStatic(HWND window, HDC dc, HWND control) {
    if (!Ui.backgroundBrush) {
        return ::DefWindowProcW(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(control));
    }
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetDlgCtrlID(control) == IDC_RATE ? kGoldColour : kTextColour);
    return reinterpret_cast<LRESULT>(BackgroundBrush());
}

// Owner-drawn buttons erase with this brush, so their rounded corners show the
// window's background.
LRESULT OnCtlColorButton(HWND window, WPARAM wParam, LPARAM lParam) {
    if (!Ui.backgroundBrush) return ::DefWindowProcW(window, WM_CTLCOLORBTN, wParam, lParam);
    return reinterpret_cast<LRESULT>(BackgroundBrush());
}

LRESULT OnDrawItem(const DRAWITEMSTRUCT* item) {
    if (item == nullptr || item->CtlType != ODT_BUTTON) return FALSE;
    HFONT font = FontFor(Ui.fonts, FontRole::Semibold);
    if (font == nullptr) font = FontFor(Ui.fonts, FontRole::Body);
    return DrawThemedButton(*item, item->CtlID == IDC_PLAY, font);
}

LRESULT OnGetMinMaxInfo(HWND window, MINMAXINFO* info) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    const HMONITOR nearest = ::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    const bool known = nearest != nullptr && ::GetMonitorInfoW(nearest, &monitor);
    const ClientSize minimum = MinimumTrackSize(known, monitor.rcWork.right - monitor.rcWork.left,
                                                monitor.rcWork.bottom - monitor.rcWork.top, CurrentDpi);
    info->ptMinTrackSize = POINT{minimum.width, minimum.height};
    return 0;
}

LRESULT OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    const int dpi = HIWORD(wParam);
    if (IsUsableDpi(dpi)) {
        CurrentDpi = dpi;
        CreateUiFonts();
    }
    if (lParam != 0) {
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                       suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayoutControls(window);
    return 0;
}

void OnPlay(HWND window) {
    // Only a click of the enabled button counts: while a run may still be
    // writing the settings the button is disabled.
    if (!::IsWindowEnabled(ControlAt(Slot::Play))) return;
    std::wstring errorText;
    if (LaunchGame(window, errorText)) {
        ::DestroyWindow(window);  // the game runs; the patcher is done
        return;
    }
    ::MessageBoxW(window, errorText.c_str(), kPatcherCaption, MB_OK | MB_ICONERROR);
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
    // A double click on an owner-drawn button adds BN_DOUBLECLICKED, which must
    // not start the game or a run a second time.
    if (HIWORD(wParam) != BN_CLICKED) return 0;
    switch (LOWORD(wParam)) {
        case IDC_PLAY: OnPlay(window); break;
        case IDC_REPAIR: StartUpdateRun(); break;
        default: break;
    }
    return 0;
}

LRESULT OnClose(HWND window) {
    if (Ui.runShown && UpdateRunActive()) {
        // A second close request while the question is open is the same request.
        if (Ui.closeQuestionOpen) return 0;
        Ui.closeQuestionOpen = true;
        const int answer = ::MessageBoxW(window, kCloseQuestion, kPatcherCaption, MB_YESNO | MB_ICONQUESTION);
        Ui.closeQuestionOpen = false;
        if (answer != IDYES) return 0;
        RequestCancel();
    }
    ::DestroyWindow(window);
    return 0;
}

LRESULT OnDestroy(HWND window) {
    RequestCancel();
    ReclaimWindowTexts(window);
    ::PostQuitMessage(0);
    return 0;
}

bool IsRefusedSysCommand(WPARAM wParam) {
    const WPARAM command = wParam & 0xFFF0;
    return command == SC_SIZE || command == SC_MAXIMIZE;
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return OnCreate(window);
        case WM_ERASEBKGND: return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
        case WM_CTLCOLORSTATIC:
            return OnCtlColorStatic(window, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_CTLCOLORBTN: return OnCtlColorButton(window, wParam, lParam);
        case WM_DRAWITEM: return OnDrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        case WM_GETMINMAXINFO: return OnGetMinMaxInfo(window, reinterpret_cast<MINMAXINFO*>(lParam));
        case WM_SYSCOMMAND:
            if (IsRefusedSysCommand(wParam)) return 0;
            break;
        case WM_NCLBUTTONDBLCLK:
            if (wParam == HTCAPTION) return 0;  // no maximising by double click
            break;
        case WM_DPICHANGED: return OnDpiChanged(window, wParam, lParam);
        case WM_SIZE: LayoutControls(window); return 0;
        case WM_COMMAND: return OnCommand(window, wParam);
        case WM_CLOSE: return OnClose(window);
        case WM_DESTROY: return OnDestroy(window);
        default: {
            LRESULT result = 0;
            if (message == WM_PATCHER_DONE) Ui.runShown = false;
            if (HandlePatcherMessage(window, message, wParam, lParam, result)) return result;
            break;
        }
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    const WindowProcedureScope scope;
    try {
        return HandleMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

void ReleaseWindowResources() {
    Ui.controls = {};
    Ui.fonts = UiFontSet{};
    Ui.backgroundBrush.Reset();
    Ui.headerIcon.Reset();
}

void SetStartDpi(int dpi) { CurrentDpi = dpi; }
