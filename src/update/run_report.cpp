#include "update/run_report.h"

#include <atomic>
#include <new>
#include <thread>

#include "config/log.h"

HWND MainWindow = nullptr;
WindowPostFunction PostToWindow = ::PostMessageW;

namespace {

constexpr DWORD kFullQueueRetryMs = 10;

std::atomic<long> LiveTexts{0};

// Closing handshake between posters and the window being destroyed: a poster
// announces itself in PostsInFlight before it looks at ClosingWindow, the
// window publishes ClosingWindow before it waits for PostsInFlight to reach
// zero. So every text either sees the gate closed, or is queued before the
// window drains its queue.
std::atomic<long> PostsInFlight{0};
std::atomic<HWND> ClosingWindow{nullptr};

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

// Posts an end of the run, retrying while the queue is full and the window
// still exists (and is not being closed).
void PostRunEnd(UINT message, WPARAM value) {
    const HWND target = MainWindow;
    if (target == nullptr) return;
    while (!PostToWindow(target, message, value, 0)) {
        if (ClosingWindow.load() == target || !::IsWindow(target)) return;
        ::Sleep(kFullQueueRetryMs);
    }
}

}  // namespace

void ReportStatus(const std::wstring& text) { PostWindowText(WM_PATCHER_STATUS, text); }
void ReportDetail(const std::wstring& text) { PostWindowText(WM_PATCHER_DETAIL, text); }
void ReportCounts(const std::wstring& text) { PostWindowText(WM_PATCHER_COUNTS, text); }
void ReportRate(const std::wstring& text) { PostWindowText(WM_PATCHER_RATE, text); }
void ReportTotalProgress(WPARAM percent) { PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, percent); }
void ReportFileProgress(WPARAM percent) { PostWindowNumber(WM_PATCHER_FILE_PROGRESS, percent); }
void ReportDone(bool upToDate) { PostRunEnd(WM_PATCHER_DONE, upToDate ? 1 : 0); }
void ReportExit() { PostRunEnd(WM_PATCHER_EXIT, 0); }

void ReportFailure(const std::wstring& message) {
    WriteLog(L"BLAD: " + message);
    ReportStatus(L"Nie udało się zaktualizować klienta.");
    ReportDetail(message);
    ReportCounts(L"Szczegóły zapisano w patcher.txt");
    ReportRate(L"Pobieranie przerwane — nie można określić czasu ani jakości połączenia.");
    ReportDone(false);
}

void PostWindowText(UINT message, const std::wstring& text) {
    std::wstring* copy = NewWindowText(text);
    if (copy == nullptr) return;
    PostsInFlight.fetch_add(1);
    const HWND target = MainWindow;
    bool posted = false;
    if (target != nullptr && ClosingWindow.load() != target && ::IsWindow(target)) {
        posted = PostToWindow(target, message, 0, reinterpret_cast<LPARAM>(copy)) != FALSE;
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
    if (target != nullptr) PostToWindow(target, message, value, 0);
}

bool IsTextMessage(UINT message) {
    return message == WM_PATCHER_STATUS || message == WM_PATCHER_DETAIL || message == WM_PATCHER_COUNTS ||
           message == WM_PATCHER_RATE;
}

const std::wstring& PostedText(LPARAM lParam) { return *reinterpret_cast<const std::wstring*>(lParam); }

void DeletePostedText(LPARAM lParam) { DeleteWindowText(reinterpret_cast<std::wstring*>(lParam)); }

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
