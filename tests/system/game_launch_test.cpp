#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "common/app_paths.h"
#include "system/game_launch.h"

namespace {

// This test's own windows stand in for the game's: the image searched for is
// the test executable's own.
std::wstring OwnImageName() {
    wchar_t path[MAX_PATH * 4] = L"";
    ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return FileNamePart(path);
}

class OwnWindow {
public:
    OwnWindow(DWORD style, HWND owner = nullptr) {
        static const ATOM windowClass = [] {
            WNDCLASSW definition{};
            definition.lpfnWndProc = ::DefWindowProcW;
            definition.hInstance = ::GetModuleHandleW(nullptr);
            definition.lpszClassName = L"GameLaunchTestWindow";
            return ::RegisterClassW(&definition);
        }();
        window_ = ::CreateWindowExW(0, MAKEINTATOM(windowClass), L"test", style, 10, 10, 200, 100, owner, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnWindow() {
        if (::IsWindow(window_)) ::DestroyWindow(window_);
    }
    HWND Get() const { return window_; }

private:
    HWND window_ = nullptr;
};

bool Contains(const std::vector<HWND>& windows, HWND window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

void PumpMessages(DWORD forMs) {
    const ULONGLONG end = ::GetTickCount64() + forMs;
    while (::GetTickCount64() < end) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        ::Sleep(10);
    }
}

TEST(FindWindowsOfImage, OnlyVisibleUnownedWindowsOfTheImageAnyCase) {
    const OwnWindow visible(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    const OwnWindow hidden(WS_OVERLAPPEDWINDOW);
    const OwnWindow owned(WS_OVERLAPPEDWINDOW | WS_VISIBLE, visible.Get());
    ASSERT_NE(visible.Get(), nullptr);
    ASSERT_NE(owned.Get(), nullptr);

    const std::vector<HWND> found = FindWindowsOfImage(OwnImageName());
    EXPECT_TRUE(Contains(found, visible.Get()));
    EXPECT_FALSE(Contains(found, hidden.Get()));
    EXPECT_FALSE(Contains(found, owned.Get()));

    std::wstring shouted = OwnImageName();
    for (wchar_t& c : shouted) c = static_cast<wchar_t>(std::towupper(c));
    EXPECT_TRUE(Contains(FindWindowsOfImage(shouted), visible.Get()));
    EXPECT_FALSE(Contains(FindWindowsOfImage(L"other_" + OwnImageName()), visible.Get()));
}

TEST(ForceForegroundWindow, RestoresAMinimisedWindowAndIgnoresGoneOnes) {
    const OwnWindow front(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    const OwnWindow game(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ::ShowWindow(game.Get(), SW_MINIMIZE);
    ::SetForegroundWindow(front.Get());
    PumpMessages(100);
    ASSERT_TRUE(::IsIconic(game.Get()));

    ForceForegroundWindow(game.Get());
    PumpMessages(300);
    EXPECT_FALSE(::IsIconic(game.Get()));
    EXPECT_EQ(::GetForegroundWindow(), game.Get());
    EXPECT_EQ(::GetWindowLongPtrW(game.Get(), GWL_EXSTYLE) & WS_EX_TOPMOST, 0);

    HWND gone = nullptr;
    {
        const OwnWindow shortLived(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        gone = shortLived.Get();
    }
    ForceForegroundWindow(gone);
    ForceForegroundWindow(nullptr);
    EXPECT_EQ(::GetForegroundWindow(), game.Get());
}

}  // namespace
