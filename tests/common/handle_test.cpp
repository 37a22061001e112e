#include <gtest/gtest.h>

#include <utility>

#include "common/handle.h"

namespace {

struct CountingTraits {
    using Type = int;
    static inline int closed = 0;
    static int Invalid() noexcept { return -1; }
    static void Close(int) noexcept { ++closed; }
};

TEST(UniqueHandle, ClosesOnceOnDestructionResetAndMoveAssignment) {
    CountingTraits::closed = 0;
    {
        UniqueHandle<CountingTraits> a(5);
        UniqueHandle<CountingTraits> b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Get(), 5);
        UniqueHandle<CountingTraits> c(7);
        c = std::move(b);  // closes 7
        EXPECT_EQ(CountingTraits::closed, 1);
        c.Reset(9);  // closes 5
        EXPECT_EQ(CountingTraits::closed, 2);
        EXPECT_EQ(c.Release(), 9);  // released, never closed
    }
    EXPECT_EQ(CountingTraits::closed, 2);
}

TEST(UniqueHandle, FileHandleTreatsInvalidHandleValueAsEmpty) {
    FileHandle missing(::CreateFileW(L"Z:\\no\\such\\dir\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    KernelHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(event);
}

}  // namespace
