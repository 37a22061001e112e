// ReplaceLocalFile on real files, with targets held open by the test; one case
// takes the whole six-second retry budget.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "common/app_paths.h"
#include "config/error_text.h"
#include "config/log.h"
#include "stand_in.h"
#include "system/file_replace.h"

namespace {

using Messages = std::vector<std::wstring>;

class FileReplace : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppPaths(dir_.File(L"Zerandis_Patcher.exe"));
        ASSERT_TRUE(WriteFileBytes(target_, "old content"));
        ASSERT_TRUE(WriteFileBytes(source_, "new content"));
    }

    TempDirectory dir_{L"replace"};
    std::wstring target_ = dir_.File(L"data.pak");
    std::wstring source_ = dir_.File(L"data.pak.download");
    std::wstring errorText_ = L"untouched";
};

TEST_F(FileReplace, CreatesMissingDirectoriesAndLogsNothingOnTheFirstTry) {
    const std::wstring target = dir_.File(L"Data\\Maps\\world.map");
    EXPECT_TRUE(ReplaceLocalFile(source_, target, errorText_));
    EXPECT_EQ(ReadFileBytes(target), "new content");
    EXPECT_FALSE(std::filesystem::exists(source_));
    EXPECT_EQ(errorText_, L"untouched");
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(FileReplace, ReadOnlyTargetIsReplacedAndTheBitDoesNotCarryOver) {
    ASSERT_TRUE(::SetFileAttributesW(target_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(ReplaceLocalFile(source_, target_, errorText_));
    EXPECT_EQ(ReadFileBytes(target_), "new content");
    const DWORD attributes = ::GetFileAttributesW(target_.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));  // no retry was needed
}

TEST_F(FileReplace, TargetFreedAfterThreeTriesIsReplacedAtTheFourth) {
    FileHandle held = HoldWithoutSharing(target_);
    ASSERT_TRUE(held);
    // Tries run at about 0, 200, 400 and 600 ms: let go between the third and the fourth.
    std::thread release([&held] {
        ::Sleep(500);
        held.Reset();
    });
    const auto start = ::GetTickCount64();
    const bool replaced = ReplaceLocalFile(source_, target_, errorText_);
    const auto elapsed = ElapsedMs(start);
    release.join();

    EXPECT_TRUE(replaced) << errorText_;
    EXPECT_GE(elapsed, 550u);
    EXPECT_LT(elapsed, 3000u);
    EXPECT_EQ(ReadFileBytes(target_), "new content");
    EXPECT_EQ(LogMessages(),
              (Messages{L"Podmiana pliku powiodła się po ponowieniu: " + target_ + L" | próba: 4/30"}));
}

TEST_F(FileReplace, MissingStagingFileIsNotRetried) {
    const std::wstring missing = dir_.File(L"gone.download");
    const auto start = ::GetTickCount64();
    EXPECT_FALSE(ReplaceLocalFile(missing, target_, errorText_));
    EXPECT_LT(ElapsedMs(start), 190u);  // below one 200 ms pause
    EXPECT_EQ(errorText_, L"Nie można podmienić " + target_ + L": " + WindowsErrorText(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadFileBytes(target_), "old content");
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));  // the caller's failure report logs it
}

TEST_F(FileReplace, FileInTheDirectoryPathStopsBeforeAnyMove) {
    ASSERT_TRUE(WriteFileBytes(dir_.File(L"Data"), "a file, not a directory"));
    const std::wstring parent = dir_.File(L"Data\\Maps");
    EXPECT_FALSE(ReplaceLocalFile(source_, parent + L"\\world.map", errorText_));
    EXPECT_EQ(errorText_, L"Nie można utworzyć katalogu " + parent);
    EXPECT_EQ(ReadFileBytes(source_), "new content");
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(FileReplace, TargetHeldThroughoutFailsAfterThirtyTriesAndKeepsBothFiles) {
    FileHandle held = HoldWithoutSharing(target_);
    ASSERT_TRUE(held);
    const auto start = ::GetTickCount64();
    EXPECT_FALSE(ReplaceLocalFile(source_, target_, errorText_));
    const auto elapsed = ElapsedMs(start);
    held.Reset();

    EXPECT_GE(elapsed, 5700u);  // 29 pauses of 200 ms
    EXPECT_LT(elapsed, 15000u);
    EXPECT_EQ(ReadFileBytes(target_), "old content");
    EXPECT_EQ(ReadFileBytes(source_), "new content");
    const std::wstring prefix = L"Nie można podmienić " + target_ + L": ";
    ASSERT_EQ(errorText_.rfind(prefix, 0), 0u) << errorText_;
    const std::wstring reason = errorText_.substr(prefix.size());
    EXPECT_EQ(LogMessages(), (Messages{L"Nieudana podmiana pliku po 30 próbach: " + target_ + L" | błąd: " + reason}));
}

}  // namespace
