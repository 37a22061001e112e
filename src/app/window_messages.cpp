#include "app/window_messages.h"

#include <atomic>
#include <new>
#include <thread>

#include <commctrl.h>

HWND MainWindow = nullptr;

namespace {

std::atomic<long> LiveTexts{0};

// Closing handshake between posters and the window being destroyed: a poster
// announces itself in PostsInFlight before it looks at ClosingWindow, the
// window publishes ClosingWindow before it waits for PostsInFlight to reach
// zero. So every text either sees the gate closed, or is queued before the
// window drains its queue.
std::atomic<long> PostsInFlight{0};
std::atomic<HWND> ClosingWindow{nullptr};

bool IsTextMessage(UINT message) {
    return message == WM_PATCHER_STATUS || message == WM_PATCHER_DETAIL ||
           message == WM_PATCHER_COUNTS || message == WM_PATCHER_RATE;
}

int TextControlFor(UINT message) {
    switch (message) {
        case WM_PATCHER_STATUS: return IDC_STATUS;
        case WM_PATCHER_DETAIL: return IDC_DETAIL;
        case WM_PATCHER_COUNTS: return IDC_COUNTS;
        default: return IDC_RATE;
    }
}

std::wstring* NewWindowText(const std::wstring& text) {
    try {
        auto* copy = new std::wstring(text);
        LiveTexts.fetch_add(1);
        return copy;
    } catch (...) {
        return nullptr;
    }
}

void DeleteWindowText(std::wstring* text) {
    if (text == nullptr) return;
    delete text;
    LiveTexts.fetch_sub(1);
}

void ShowText(HWND window, UINT message, LPARAM lParam) {
    auto* text = reinterpret_cast<std::wstring*>(lParam);
    if (text == nullptr) return;
    ::SetWindowTextW(::GetDlgItem(window, TextControlFor(message)), text->c_str());
    DeleteWindowText(text);
}

void SetButtons(HWND window, bool playEnabled) {
    ::EnableWindow(::GetDlgItem(window, IDC_REPAIR), TRUE);
    ::EnableWindow(::GetDlgItem(window, IDC_PLAY), playEnabled ? TRUE : FALSE);
}

// Removes and deletes queued texts in [first, last]. Only text messages are
// searched: numbers may still be arriving, and would keep the loop going.
int DrainTexts(HWND filter, UINT first, UINT last) {
    int reclaimed = 0;
    MSG msg;
    while (::PeekMessageW(&msg, filter, first, last, PM_REMOVE)) {
        if (IsTextMessage(msg.message) && msg.lParam != 0) {
            DeleteWindowText(reinterpret_cast<std::wstring*>(msg.lParam));
            ++reclaimed;
        }
    }
    return reclaimed;
}

}  // namespace

void PostWindowText(UINT message, const std::wstring& text) {
    std::wstring* copy = NewWindowText(text);
    if (copy == nullptr) return;
    PostsInFlight.fetch_add(1);
    const HWND target = MainWindow;
    bool posted = false;
    if (target != nullptr && ClosingWindow.load() != target && ::IsWindow(target)) {
        posted = ::PostMessageW(target, message, 0, reinterpret_cast<LPARAM>(copy)) != FALSE;
    }
    PostsInFlight.fetch_sub(1);
    // A successful post hands the copy to the window, which deletes it after
    // showing it (or ReclaimWindowTexts does); otherwise it is still ours.
    if (!posted) DeleteWindowText(copy);
}

void PostWindowNumber(UINT message, WPARAM value) {
    if ((message == WM_PATCHER_TOTAL_PROGRESS || message == WM_PATCHER_FILE_PROGRESS) && value > 100) {
        value = 100;  // the bars' range is 0-100
    }
    // A null handle would post to this thread's own queue, where nothing reads it.
    const HWND target = MainWindow;
    if (target != nullptr) ::PostMessageW(target, message, value, 0);
}

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

int ReclaimWindowTexts(HWND window) {
    ClosingWindow.store(window);
    while (PostsInFlight.load() != 0) std::this_thread::yield();
    // Once the window is gone its handle no longer filters, so the whole
    // thread queue is searched for what was left behind.
    const HWND filter = ::IsWindow(window) ? window : nullptr;
    return DrainTexts(filter, WM_PATCHER_STATUS, WM_PATCHER_COUNTS) +
           DrainTexts(filter, WM_PATCHER_RATE, WM_PATCHER_RATE);
}

long LiveWindowTextCount() { return LiveTexts.load(); }
