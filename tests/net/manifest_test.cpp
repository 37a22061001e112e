#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/manifest.h"

namespace {

constexpr char kMd5[] = "0123456789abcdef0123456789abcdef";

struct ParseResult {
    bool ok = false;
    Manifest manifest;
    std::wstring error = L"untouched";
};

ParseResult Parse(const std::string& text) {
    ParseResult result;
    result.ok = ParseManifest(std::vector<char>(text.begin(), text.end()), result.manifest, result.error);
    return result;
}

std::string Line(const std::string& size, const std::string& path) {
    return std::string(kMd5) + " " + size + " " + path + "\n";
}

std::wstring LineError(int n) { return L"Błędna linia manifestu: " + std::to_wstring(n); }
std::wstring SizeError(int n) { return L"Błędny rozmiar w linii manifestu: " + std::to_wstring(n); }
std::wstring EntryError(int n) { return L"Nieprawidłowy wpis manifestu w linii " + std::to_wstring(n); }

TEST(ParseManifest, ReadsEntriesInFileOrder) {
    const auto r = Parse("# client 1.2\n"
                         "0123456789ABCDEF0123456789abcdef 100 Zerandis.exe\n"
                         "\n"
                         "ffffffffffffffffffffffffffffffff\t\t 0 \tData Files/a b.txt \n"
                         "0123456789abcdef0123456789abcdef 7 Zerandis.exe");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.error, L"untouched");
    ASSERT_EQ(r.manifest.size(), 3u);
    EXPECT_EQ(r.manifest[0].md5, L"0123456789abcdef0123456789abcdef");
    EXPECT_EQ(r.manifest[0].size, 100u);
    EXPECT_EQ(r.manifest[0].path, L"Zerandis.exe");
    EXPECT_EQ(r.manifest[1].md5, L"ffffffffffffffffffffffffffffffff");
    EXPECT_EQ(r.manifest[1].size, 0u);
    EXPECT_EQ(r.manifest[1].path, L"Data Files\\a b.txt ");
    EXPECT_EQ(r.manifest[2].path, L"Zerandis.exe");  // repeated paths are not merged
    EXPECT_EQ(r.manifest[2].size, 7u);
}

TEST(ParseManifest, NothingButCommentsAndBlanksIsEmpty) {
    for (const char* text : {"", "\n", "\r\n\r\n", "# only\n\n#x\r\n", "\xEF\xBB\xBF"}) {
        const auto r = Parse(text);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, L"Manifest nie zawiera żadnych plików.");
    }
}

TEST(ParseManifest, ByteOrderMarkOnlyAtTheStart) {
    const auto withBom = Parse("\xEF\xBB\xBF" + Line("1", "a") + "x");
    EXPECT_FALSE(withBom.ok);
    EXPECT_EQ(withBom.error, LineError(2));  // the line after the mark is still line 1
    ASSERT_EQ(withBom.manifest.size(), 1u);
    EXPECT_EQ(withBom.manifest[0].md5, L"0123456789abcdef0123456789abcdef");

    const auto secondLine = Parse(Line("1", "a") + "\xEF\xBB\xBF" + Line("1", "b"));
    EXPECT_FALSE(secondLine.ok);
    EXPECT_EQ(secondLine.error, EntryError(2));
    EXPECT_EQ(secondLine.manifest.size(), 1u);  // entries before the bad line stay
}

TEST(ParseManifest, LineEndsAndCarriageReturns) {
    const auto crlf = Parse(std::string(kMd5) + " 5 a\r\n" + kMd5 + " 6 b\r\n");
    const auto lf = Parse(std::string(kMd5) + " 5 a\n" + kMd5 + " 6 b");
    ASSERT_TRUE(crlf.ok);
    ASSERT_TRUE(lf.ok);
    ASSERT_EQ(crlf.manifest.size(), 2u);
    ASSERT_EQ(lf.manifest.size(), 2u);
    EXPECT_EQ(crlf.manifest[1].path, L"b");
    EXPECT_EQ(lf.manifest[1].path, L"b");

    // Only one CR at the very end is removed; one inside stays in the path.
    const auto inner = Parse(std::string(kMd5) + " 5 a\rb\r\r\n");
    ASSERT_TRUE(inner.ok);
    EXPECT_EQ(inner.manifest[0].path, L"a\rb\r");
}

TEST(ParseManifest, LineNumbersCountCommentsAndBlanks) {
    EXPECT_EQ(Parse("# one\n#two\nbad\n").error, LineError(3));
    EXPECT_EQ(Parse("\n\r\n" + Line("x", "a")).error, SizeError(3));
    // A blank before "#" makes an entry line: here the size field is "#"...
    EXPECT_EQ(Parse(Line("1", "a") + " # not a comment\n").error, SizeError(2));
    // ...and with a number after it, the empty md5 field fails.
    EXPECT_EQ(Parse(Line("1", "a") + " 5 #a\n").error, EntryError(2));
    EXPECT_EQ(Parse("# c\r\n\r\n" + Line("1", "..")).error, EntryError(3));
}

TEST(ParseManifest, FieldStructure) {
    const std::string md5(kMd5);
    EXPECT_EQ(Parse(md5 + "\n").error, LineError(1));
    EXPECT_EQ(Parse(md5 + " \t \n").error, LineError(1));
    EXPECT_EQ(Parse(md5 + " 12\n").error, LineError(1));
    EXPECT_EQ(Parse(md5 + " 12 \t\r\n").error, LineError(1));
    EXPECT_EQ(Parse(" \t \n").error, LineError(1));
    // A leading blank gives an empty md5 field, not a structure error.
    EXPECT_EQ(Parse(" " + md5 + " 1 a\n").error, EntryError(1));
    // Only space and tab separate.
    EXPECT_EQ(Parse(md5 + "\v1\va\n").error, LineError(1));
}

TEST(ParseManifest, SizeFieldConversion) {
    struct Case {
        const char* field;
        uint64_t size;
    };
    for (const Case& c : {Case{"0", 0}, Case{"007", 7}, Case{"12abc", 12}, Case{"+5", 5}, Case{"-0", 0},
                          Case{"-1", UINT64_MAX}, Case{"18446744073709551615", UINT64_MAX},
                          Case{"-18446744073709551615", 1}, Case{"0000000000000000000000042", 42}}) {
        const auto r = Parse(Line(c.field, "a"));
        ASSERT_TRUE(r.ok) << c.field;
        EXPECT_EQ(r.manifest[0].size, c.size) << c.field;
    }
    for (const char* field : {"abc", "+", "-", "+-1", "x1", "18446744073709551616", "99999999999999999999",
                              "-18446744073709551616", "100000000000000000000"}) {
        EXPECT_EQ(Parse(Line(field, "a")).error, SizeError(1)) << field;
    }
}

TEST(ParseManifest, SizeIsCheckedBeforeMd5AndPath) {
    EXPECT_EQ(Parse("zz x ..\n").error, SizeError(1));
    EXPECT_EQ(Parse("zz 1 ..\n").error, EntryError(1));
}

TEST(ParseManifest, DigestMustBe32HexDigits) {
    const std::string good(kMd5);
    for (const std::string& md5 : {good.substr(1), good + "0", good.substr(1) + "g", good.substr(1) + "-"}) {
        EXPECT_EQ(Parse(md5 + " 1 a\n").error, EntryError(1)) << md5;
    }
    // Full-width digits are not hexadecimal digits.
    EXPECT_EQ(Parse(good.substr(1) + "\xEF\xBC\x90 1 a\n").error, EntryError(1));
}

TEST(ParseManifest, Utf8Fields) {
    const auto polish = Parse(Line("3", "Dane/zażółć gęślą.txt"));
    ASSERT_TRUE(polish.ok);
    EXPECT_EQ(polish.manifest[0].path, L"Dane\\zażółć gęślą.txt");

    EXPECT_EQ(Parse(Line("3", "a\xC3 b")).error, EntryError(1));       // truncated sequence
    EXPECT_EQ(Parse(Line("3", "\xC0\xAF")).error, EntryError(1));       // overlong "/"
    EXPECT_EQ(Parse(Line("3", "\xED\xA0\x80x")).error, EntryError(1));  // encoded surrogate
    EXPECT_EQ(Parse(std::string(kMd5).substr(1) + "\xC3 1 a\n").error, EntryError(1));
}

TEST(ParseManifest, PathRuleAppliesAfterSlashConversion) {
    for (const char* path : {"a/../b", "..", "/a", "\\a", "C:/a", "a:b", "data/...", "x/.. /y", ". ."}) {
        EXPECT_EQ(Parse(Line("1", path)).error, EntryError(1)) << path;
    }
    const auto valid = Parse(Line("1", "./a") + Line("2", "a//b") + Line("3", "a/b/") + Line("4", "..a/b..c"));
    ASSERT_TRUE(valid.ok);
    EXPECT_EQ(valid.manifest[0].path, L".\\a");
    EXPECT_EQ(valid.manifest[1].path, L"a\\\\b");
    EXPECT_EQ(valid.manifest[2].path, L"a\\b\\");
    EXPECT_EQ(valid.manifest[3].path, L"..a\\b..c");
}

TEST(IsValidManifestPath, Rule) {
    for (const wchar_t* path : {L"a", L".\\a", L"a\\\\b", L"a\\b\\", L".", L"a\\.\\b", L"a.b", L"..a", L"a..",
                                L"...x", L". a"}) {
        EXPECT_TRUE(IsValidManifestPath(path)) << path;
    }
    for (const wchar_t* path : {L"", L"\\a", L"/a", L"\\\\srv\\share\\a", L"C:\\a", L"a:b", L"a\\file:stream",
                                L"..", L"a\\..", L"a\\..\\b", L"a/../b", L"...", L"a\\.. ", L"a\\. .\\b",
                                L" ..", L"....\\x"}) {
        EXPECT_FALSE(IsValidManifestPath(path)) << path;
    }
    EXPECT_FALSE(IsValidManifestPath(std::wstring(L"a\0b", 3)));
    EXPECT_EQ(Parse(Line("1", std::string("data/a\0.pak", 10))).error, EntryError(1));
}

}  // namespace
