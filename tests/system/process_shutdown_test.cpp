// The window and process probes every shutdown uses.
#include <gtest/gtest.h>

#include "stand_in.h"
#include "system/process_shutdown.h"

namespace {

TEST(PostCloseToProcessWindows, PostsCloseOnlyToWindowsOfTheGivenProcess) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    DWORD otherId = ::GetCurrentProcessId() + 4;
    EXPECT_EQ(PostCloseToProcessWindows(window, reinterpret_cast<LPARAM>(&otherId)), TRUE);
    MSG message;
    EXPECT_FALSE(::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));

    DWORD ownId = ::GetCurrentProcessId();
    ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&ownId));
    ASSERT_TRUE(::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    ::DestroyWindow(window);
}

TEST(IsProcessStillRunning, TellsRunningFromEndedAndUnknown) {
    EXPECT_TRUE(IsProcessStillRunning(::GetCurrentProcessId()));
    EXPECT_FALSE(IsProcessStillRunning(0));

    TempDirectory dir(L"probe");
    StandIn game(dir.File(L"probe.exe"), L"close");
    ASSERT_TRUE(game.Valid());
    EXPECT_TRUE(IsProcessStillRunning(game.Id()));
    DWORD id = game.Id();
    ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&id));
    EXPECT_EQ(game.WaitExitCode(10000), kStandInClosedExitCode);
    // The test still holds a handle, so the id cannot be reused meanwhile.
    EXPECT_FALSE(IsProcessStillRunning(game.Id()));
}

}  // namespace
