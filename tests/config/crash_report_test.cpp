#include <gtest/gtest.h>

#include "config/crash_report.h"

namespace {

DWORD PolicyFlags = 0;
DWORD SetCalls = 0;

BOOL WINAPI GetPolicy(LPDWORD flags) {
    *flags = PolicyFlags;
    return TRUE;
}

BOOL WINAPI SetPolicy(DWORD flags) {
    PolicyFlags = flags;
    ++SetCalls;
    return TRUE;
}

TEST(CrashReport, TheCallbackFilterIsClearedAndTheOtherFlagsKept) {
    PolicyFlags = 0x6 | kCallbackFilterEnabled;
    EXPECT_TRUE(StopSwallowingCallbackFaults(GetPolicy, SetPolicy));
    EXPECT_EQ(PolicyFlags, 0x6u);
    // Without either call the program must watch its window procedure itself.
    EXPECT_FALSE(StopSwallowingCallbackFaults(nullptr, SetPolicy));
    EXPECT_FALSE(StopSwallowingCallbackFaults(GetPolicy, nullptr));
    EXPECT_EQ(SetCalls, 1u);
}

}  // namespace
