#include "app/window_messages.h"

#include <commctrl.h>

#include "update/run_report.h"

namespace {

int TextControlFor(UINT message) {
    switch (message) {
        case WM_PATCHER_STATUS: return IDC_STATUS;
        case WM_PATCHER_DETAIL: return IDC_DETAIL;
        case WM_PATCHER_COUNTS: return IDC_COUNTS;
        default: return IDC_RATE;
    }
}

void ShowText(HWND window, UINT message, LPARAM lParam) {
    if (lParam == 0) return;
    ::SetWindowTextW(::GetDlgItem(window, TextControlFor(message)), PostedText(lParam).c_str());
    DeletePostedText(lParam);
}

void SetButtons(HWND window, bool playEnabled) {
    ::EnableWindow(::GetDlgItem(window, IDC_REPAIR), TRUE);
    ::EnableWindow(::GetDlgItem(window, IDC_PLAY), playEnabled ? TRUE : FALSE);
}

}  // namespace

bool HandlePatcherMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_PATCHER_STATUS:
        case WM_PATCHER_DETAIL:
        case WM_PATCHER_COUNTS:
        case WM_PATCHER_RATE:
            ShowText(window, message, lParam);
            break;
        case WM_PATCHER_TOTAL_PROGRESS:
            ::SendDlgItemMessageW(window, IDC_TOTAL_PROGRESS, PBM_SETPOS, wParam, 0);
            break;
        case WM_PATCHER_FILE_PROGRESS:
            ::SendDlgItemMessageW(window, IDC_FILE_PROGRESS, PBM_SETPOS, wParam, 0);
            break;
        case WM_PATCHER_DONE:
            SetButtons(window, wParam != 0);
            break;
        case WM_PATCHER_EXIT:
            ::DestroyWindow(window);
            break;
        default:
            return false;
    }
    result = 0;
    return true;
}
