#include <gtest/gtest.h>

#include <string>

#include "common/long_path.h"

namespace {

TEST(LongPathForm, PrefixesOnlyFullPathsPastTheLimitAndCleansThemFirst) {
    const std::wstring tail(250, L'x');
    EXPECT_EQ(LongPathForm(L"C:/Gry/./a\\\\b\\..\\" + tail + L". "), L"\\\\?\\C:\\Gry\\a\\" + tail);
    EXPECT_EQ(LongPathForm(L"\\\\srv\\gry\\" + tail), L"\\\\?\\UNC\\srv\\gry\\" + tail);
    EXPECT_EQ(LongPathForm(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
    EXPECT_EQ(LongPathForm(L"C:\\" + std::wstring(244, L'x')), L"C:\\" + std::wstring(244, L'x'));
    EXPECT_EQ(LongPathForm(L"Dane\\" + tail), L"Dane\\" + tail);
    EXPECT_EQ(WithoutLongPrefix(L"\\\\?\\UNC\\srv\\x"), L"\\\\srv\\x");
}

}  // namespace
