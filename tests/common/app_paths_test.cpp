#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/app_paths.h"

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

TEST(AppPaths, DirectoryIsTheParentOfTheExecutable) {
    SetAppPaths(L"C:\\Games\\Zerandis\\Zerandis_Patcher.exe");
    EXPECT_EQ(OwnExePath, L"C:\\Games\\Zerandis\\Zerandis_Patcher.exe");
    EXPECT_EQ(AppDirectory, L"C:\\Games\\Zerandis");
    EXPECT_EQ(ResolveAppPath(L"patcher\\Zerandis_PatcherUpdate.bin"),
              L"C:\\Games\\Zerandis\\patcher\\Zerandis_PatcherUpdate.bin");
}

TEST(AppPaths, ModulePathIsThisTestProgram) {
    ASSERT_TRUE(InitAppPathsFromModule());
    EXPECT_NE(OwnExePath.find(L"app_paths_test.exe"), std::wstring::npos);
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

}  // namespace
