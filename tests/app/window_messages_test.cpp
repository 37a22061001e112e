#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/window_messages.h"
#include "update/run_report.h"

#include <commctrl.h>  // after windows.h, whose types it uses

namespace {

// What the test window saw: each handled text message with the control's
// text right after it, in arrival order.
std::vector<std::pair<int, std::wstring>> ShownTexts;
int ReclaimedOnDestroy = 0;

int ControlOf(UINT message) {
    switch (message) {
        case WM_PATCHER_STATUS: return IDC_STATUS;
        case WM_PATCHER_DETAIL: return IDC_DETAIL;
        case WM_PATCHER_COUNTS: return IDC_COUNTS;
        case WM_PATCHER_RATE: return IDC_RATE;
        default: return 0;
    }
}

std::wstring ControlText(HWND window, int id) {
    wchar_t text[512] = L"";
    ::GetWindowTextW(::GetDlgItem(window, id), text, 512);
    return text;
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) ReclaimedOnDestroy += ReclaimWindowTexts(window);
    LRESULT result = -1;
    if (HandlePatcherMessage(window, message, wParam, lParam, result)) {
        EXPECT_EQ(result, 0);
        const int id = ControlOf(message);
        if (id != 0) ShownTexts.emplace_back(id, ControlText(window, id));
        return result;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

void CreateChild(HWND parent, const wchar_t* className, int id, DWORD style = 0) {
    ::CreateWindowExW(0, className, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 100, 20, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr), nullptr);
}

// A hidden stand-in for the main window: the same controls under the same
// identifiers, a procedure that delegates to the handler, both buttons disabled
// as at the start of a run. Becomes MainWindow.
HWND CreateTestWindow() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&controls);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PatcherMessagesTestWindow";
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    HWND window = ::CreateWindowExW(0, L"PatcherMessagesTestWindow", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 400,
                                    300, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) return nullptr;
    CreateChild(window, L"STATIC", IDC_STATUS);
    CreateChild(window, L"EDIT", IDC_DETAIL, ES_AUTOHSCROLL);
    CreateChild(window, L"STATIC", IDC_COUNTS);
    CreateChild(window, L"STATIC", IDC_RATE);
    CreateChild(window, PROGRESS_CLASSW, IDC_TOTAL_PROGRESS);
    CreateChild(window, PROGRESS_CLASSW, IDC_FILE_PROGRESS);
    CreateChild(window, L"BUTTON", IDC_REPAIR, WS_DISABLED);
    CreateChild(window, L"BUTTON", IDC_PLAY, WS_DISABLED);
    MainWindow = window;
    return window;
}

// Handles everything queued for this thread.
void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

bool Enabled(HWND window, int id) { return ::IsWindowEnabled(::GetDlgItem(window, id)) != FALSE; }

int BarPosition(HWND window, int id) {
    return static_cast<int>(::SendDlgItemMessageW(window, id, PBM_GETPOS, 0, 0));
}

class WindowMessages : public ::testing::Test {
protected:
    void SetUp() override {
        ShownTexts.clear();
        ReclaimedOnDestroy = 0;
        window_ = CreateTestWindow();
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (::IsWindow(window_)) ::DestroyWindow(window_);
        ReclaimWindowTexts(window_);
        Pump();
        EXPECT_EQ(LiveWindowTextCount(), 0);
        MainWindow = nullptr;
    }
    HWND window_ = nullptr;
};

TEST_F(WindowMessages, TextsFromAWorkerArriveInOrderAndAreFreed) {
    const std::wstring rate = L"Szacowany czas do końca: obliczanie...    Twoja prędkość pobierania: oczekiwanie na dane";
    std::vector<std::pair<int, std::wstring>> posted;
    for (int i = 0; i < 50; ++i) posted.emplace_back(IDC_STATUS, L"Sprawdzanie pliku " + std::to_wstring(i));
    posted.emplace_back(IDC_DETAIL, L"data\\ąęłńóśźż.pak");
    posted.emplace_back(IDC_COUNTS, L"");
    posted.emplace_back(IDC_RATE, rate);
    posted.emplace_back(IDC_STATUS, L"Klient jest aktualny.");

    std::thread worker([&posted] {
        for (const auto& [id, text] : posted) {
            const UINT message = id == IDC_STATUS   ? WM_PATCHER_STATUS
                                 : id == IDC_DETAIL ? WM_PATCHER_DETAIL
                                 : id == IDC_COUNTS ? WM_PATCHER_COUNTS
                                                    : WM_PATCHER_RATE;
            PostWindowText(message, text);
        }
    });
    worker.join();
    EXPECT_EQ(LiveWindowTextCount(), static_cast<long>(posted.size()));
    Pump();
    EXPECT_EQ(ShownTexts, posted);
    EXPECT_EQ(ControlText(window_, IDC_STATUS), L"Klient jest aktualny.");
    EXPECT_EQ(ControlText(window_, IDC_RATE), rate);
    EXPECT_EQ(LiveWindowTextCount(), 0);
}

TEST_F(WindowMessages, ProgressMovesTheBars) {
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 42);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 7);
    Pump();
    EXPECT_EQ(BarPosition(window_, IDC_TOTAL_PROGRESS), 42);
    EXPECT_EQ(BarPosition(window_, IDC_FILE_PROGRESS), 7);
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 100);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 250);
    Pump();
    EXPECT_EQ(BarPosition(window_, IDC_TOTAL_PROGRESS), 100);
    EXPECT_EQ(BarPosition(window_, IDC_FILE_PROGRESS), 100);
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 0);
    Pump();
    EXPECT_EQ(BarPosition(window_, IDC_FILE_PROGRESS), 0);
}

TEST_F(WindowMessages, DoneSetsTheButtons) {
    PostWindowNumber(WM_PATCHER_DONE, 1);
    Pump();
    EXPECT_TRUE(Enabled(window_, IDC_REPAIR));
    EXPECT_TRUE(Enabled(window_, IDC_PLAY));

    // A failed run after a good one disables play again; repair stays usable.
    PostWindowNumber(WM_PATCHER_DONE, 0);
    Pump();
    EXPECT_TRUE(Enabled(window_, IDC_REPAIR));
    EXPECT_FALSE(Enabled(window_, IDC_PLAY));

    ::EnableWindow(::GetDlgItem(window_, IDC_REPAIR), FALSE);
    PostWindowNumber(WM_PATCHER_DONE, 1);
    Pump();
    EXPECT_TRUE(Enabled(window_, IDC_REPAIR));
    EXPECT_TRUE(Enabled(window_, IDC_PLAY));
}

TEST_F(WindowMessages, ExitDestroysTheWindowAndReclaimsWhatFollows) {
    PostWindowNumber(WM_PATCHER_EXIT, 0);
    PostWindowText(WM_PATCHER_STATUS, L"za późno");
    Pump();
    EXPECT_FALSE(::IsWindow(window_));
    EXPECT_TRUE(ShownTexts.empty());
    EXPECT_EQ(LiveWindowTextCount(), 0);
}

TEST_F(WindowMessages, PostingToADestroyedWindowFreesTheTextAtOnce) {
    ::DestroyWindow(window_);
    PostWindowText(WM_PATCHER_DETAIL, L"nikt tego nie pokaże");
    EXPECT_EQ(LiveWindowTextCount(), 0);
    PostWindowNumber(WM_PATCHER_TOTAL_PROGRESS, 50);
    PostWindowNumber(WM_PATCHER_DONE, 1);

    MainWindow = nullptr;
    PostWindowText(WM_PATCHER_STATUS, L"brak okna");
    EXPECT_EQ(LiveWindowTextCount(), 0);
}

TEST_F(WindowMessages, DestroyReclaimsQueuedTexts) {
    for (int i = 0; i < 5; ++i) PostWindowText(WM_PATCHER_COUNTS, L"1 MB / 2 MB");
    PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 30);
    EXPECT_EQ(LiveWindowTextCount(), 5);
    ::DestroyWindow(window_);
    EXPECT_EQ(ReclaimedOnDestroy, 5);
    EXPECT_EQ(LiveWindowTextCount(), 0);
    // Posts after the destruction are dropped by the poster.
    PostWindowText(WM_PATCHER_COUNTS, L"po zamknięciu");
    EXPECT_EQ(LiveWindowTextCount(), 0);
}

TEST_F(WindowMessages, WindowClosingWhileAWorkerPostsLeaksNothing) {
    std::atomic<bool> stop{false};
    std::atomic<int> posts{0};
    std::thread worker([&] {
        while (!stop.load()) {
            PostWindowText(WM_PATCHER_COUNTS, L"12,5 MB / 100,0 MB");
            PostWindowNumber(WM_PATCHER_FILE_PROGRESS, 12);
            posts.fetch_add(1);
        }
    });
    while (posts.load() < 200) {
        MSG msg;
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    ::DestroyWindow(window_);
    while (posts.load() < 400) std::this_thread::yield();
    stop.store(true);
    worker.join();
    EXPECT_EQ(LiveWindowTextCount(), 0);
    EXPECT_FALSE(ShownTexts.empty());
}

}  // namespace
