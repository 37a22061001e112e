#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/text.h"

namespace {

TEST(AppendPath, RelativeRightSideGetsOneBackslash) {
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"patcher.ini"), L"C:\\Games\\Zerandis\\patcher.ini");
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis\\", L"patcher.ini"), L"C:\\Games\\Zerandis\\patcher.ini");
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis/", L"data\\a.pak"), L"C:\\Games\\Zerandis/data\\a.pak");
    EXPECT_EQ(AppendPath(L"C:\\", L"x.txt"), L"C:\\x.txt");
}

TEST(AppendPath, AbsoluteRightSideReplaces) {
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"D:\\other\\x.txt"), L"D:\\other\\x.txt");
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"C:\\other\\x.txt"), L"C:\\other\\x.txt");
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"\\\\server\\share\\x.txt"), L"\\\\server\\share\\x.txt");
}

TEST(AppendPath, RootedRightSideKeepsOnlyTheDrive) {
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"\\x.txt"), L"C:\\x.txt");
    EXPECT_EQ(AppendPath(L"D:\\a\\b", L"/x/y.txt"), L"D:/x/y.txt");
}

TEST(AppendPath, OtherDriveReplaces) {
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"D:x.txt"), L"D:x.txt");
    EXPECT_EQ(AppendPath(L"C:\\Games\\Zerandis", L"c:x.txt"), L"C:\\Games\\Zerandis\\x.txt");
}

TEST(AppendPath, UncDirectory) {
    EXPECT_EQ(AppendPath(L"\\\\srv\\share\\game", L"a.pak"), L"\\\\srv\\share\\game\\a.pak");
    EXPECT_EQ(AppendPath(L"\\\\srv\\share\\game", L"\\a.pak"), L"\\\\srv\\share\\a.pak");
}

TEST(LongPathForm, PrefixesOnlyFullPathsPastTheLimitAndCleansThemFirst) {
    const std::wstring tail(250, L'x');
    EXPECT_EQ(LongPathForm(L"C:/Gry/./a\\\\b\\..\\" + tail + L". "), L"\\\\?\\C:\\Gry\\a\\" + tail);
    EXPECT_EQ(LongPathForm(L"\\\\srv\\gry\\" + tail), L"\\\\?\\UNC\\srv\\gry\\" + tail);
    EXPECT_EQ(LongPathForm(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
    EXPECT_EQ(LongPathForm(L"C:\\" + std::wstring(244, L'x')), L"C:\\" + std::wstring(244, L'x'));
    EXPECT_EQ(LongPathForm(L"Dane\\" + tail), L"Dane\\" + tail);
    EXPECT_EQ(WithoutLongPrefix(L"\\\\?\\UNC\\srv\\x"), L"\\\\srv\\x");
}

TEST(AppPaths, DirectoryIsTheParentOfTheExecutable) {
    SetAppPaths(L"C:\\Games\\Zerandis\\Zerandis_Patcher.exe");
    EXPECT_EQ(OwnExePath, L"C:\\Games\\Zerandis\\Zerandis_Patcher.exe");
    EXPECT_EQ(AppDirectory, L"C:\\Games\\Zerandis");
    EXPECT_EQ(ResolveAppPath(L"patcher\\Zerandis_PatcherUpdate.bin"),
              L"C:\\Games\\Zerandis\\patcher\\Zerandis_PatcherUpdate.bin");
}

TEST(AppPaths, ModulePathIsThisTestProgram) {
    ASSERT_TRUE(InitAppPathsFromModule());
    EXPECT_NE(OwnExePath.find(L"common_test.exe"), std::wstring::npos);
    EXPECT_EQ(OwnExePath.substr(0, AppDirectory.size()), AppDirectory);
}

TEST(AppPaths, FileNamePartIsTheTextAfterTheLastSeparator) {
    EXPECT_EQ(FileNamePart(L"data\\sub/config.INI"), L"config.INI");
    EXPECT_EQ(FileNamePart(L"Zerandis.exe"), L"Zerandis.exe");
    EXPECT_EQ(FileNamePart(L"bin\\"), L"");
}

TEST(AppPaths, ParentPathKeepsRootsWholeAndDropsSeparatorsBeforeTheLastElement) {
    EXPECT_EQ(ParentPath(L"C:\\Games\\\\x.exe"), L"C:\\Games");
    EXPECT_EQ(ParentPath(L"C:\\Games/Zerandis\\/"), L"C:\\Games/Zerandis");
    EXPECT_EQ(ParentPath(L"C:\\x.exe"), L"C:\\");
    EXPECT_EQ(ParentPath(L"C:\\"), L"C:\\");
    EXPECT_EQ(ParentPath(L"C:x.exe"), L"C:");
    EXPECT_EQ(ParentPath(L"x.exe"), L"");
    EXPECT_EQ(ParentPath(L"\\\\srv\\share\\x.exe"), L"\\\\srv\\share");
    EXPECT_EQ(ParentPath(L"\\\\srv\\x.exe"), L"\\\\srv");
    EXPECT_EQ(ParentPath(L"\\\\?\\C:\\x.exe"), L"\\\\?\\C:");
}

TEST(AppPaths, CreateDirectoryTreeMakesEveryMissingFolder) {
    const std::filesystem::path base = std::filesystem::temp_directory_path() / L"zerandis_tree_test";
    std::filesystem::remove_all(base);
    EXPECT_TRUE(CreateDirectoryTree((base / L"a\\b\\").wstring()));
    EXPECT_TRUE(std::filesystem::is_directory(base / L"a\\b"));
    EXPECT_TRUE(CreateDirectoryTree((base / L"a").wstring()));  // already there
    EXPECT_TRUE(CreateDirectoryTree((base / L"a\\..\\c").wstring()));
    EXPECT_TRUE(std::filesystem::is_directory(base / L"c"));
    std::filesystem::remove_all(base);
}

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
