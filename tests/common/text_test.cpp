#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace {

TEST(Text, ToLowerWideTouchesOnlyAsciiLetters) {
    EXPECT_EQ(ToLowerWide(L"ABCXYZ abc 09 @[`{"), L"abcxyz abc 09 @[`{");
    EXPECT_EQ(ToLowerWide(L"ŁÓDŹ Config.EXE"), L"ŁÓdŹ config.exe");
}

TEST(Text, TrimWhitespaceRemovesOnlyTheFourBlanksAtTheEnds) {
    EXPECT_EQ(TrimWhitespace(L" \t\r\nhttps://a b/\n\r\t "), L"https://a b/");
    EXPECT_EQ(TrimWhitespace(L" \t\r\n"), L"");
    EXPECT_EQ(TrimWhitespace(L""), L"");
    EXPECT_EQ(TrimWhitespace(L"\u00A0x\u00A0"), L"\u00A0x\u00A0");
}

TEST(Text, Utf8RoundTrip) {
    const std::wstring polish = L"Zażółć gęślą jaźń \U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(polish)), polish);
    EXPECT_EQ(WideToUtf8(L"ą"), "\xC4\x85");
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(Text, UnpairedSurrogateBecomesReplacementCharacter) {
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Text, IllFormedUtf8GivesEmptyText) {
    EXPECT_EQ(Utf8ToWide("abc\xC3"), L"");              // truncated sequence
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"");             // overlong "/"
    EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"), L"");         // overlong, three bytes
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), L"");         // encoded surrogate
    EXPECT_EQ(Utf8ToWide("\xF4\x90\x80\x80"), L"");     // above U+10FFFF
    EXPECT_EQ(Utf8ToWide("a\x80z"), L"");               // stray continuation byte
    EXPECT_EQ(Utf8ToWide("\xFF"), L"");
    EXPECT_EQ(Utf8ToWide("\xF4\x8F\xBF\xBF"), L"\U0010FFFF");
}

}  // namespace
