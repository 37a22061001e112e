// The updater command line, and HandOffSelfUpdate starting a recording helper
// in place of the updater.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/app_paths.h"
#include "config/error_text.h"
#include "config/log.h"
#include "config/settings.h"
#include "stand_in.h"
#include "system/self_update.h"

namespace {

TEST(BuildUpdaterCommandLine, QuotesEveryPathAndWritesThePidBare) {
    EXPECT_EQ(BuildUpdaterCommandLine(L"C:\\Gry\\Zerandis Online\\patcher\\Zerandis_PatcherUpdate.bin", 4036,
                                      L"C:\\Gry\\Zerandis Online\\Zerandis_Patcher.exe",
                                      L"C:\\Gry\\Zerandis Online\\Zerandis_Patcher.exe.new"),
              L"\"C:\\Gry\\Zerandis Online\\patcher\\Zerandis_PatcherUpdate.bin\" --pid 4036"
              L" --current \"C:\\Gry\\Zerandis Online\\Zerandis_Patcher.exe\""
              L" --new \"C:\\Gry\\Zerandis Online\\Zerandis_Patcher.exe.new\"");
    EXPECT_EQ(BuildUpdaterCommandLine(L"u", 7, L"c", L"n"), L"\"u\" --pid 7 --current \"c\" --new \"n\"");
    EXPECT_EQ(BuildUpdaterCommandLine(L"u", 4294967295u, L"c", L"n"),
              L"\"u\" --pid 4294967295 --current \"c\" --new \"n\"");
}

class HandOff : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppPaths(app_.File(L"Zerandis_Patcher.exe"));
        Settings.updaterPath = PatcherSettings{}.updaterPath;
        std::filesystem::create_directories(app_.File(L"patcher"));
    }
    void TearDown() override { Settings.updaterPath = PatcherSettings{}.updaterPath; }

    TempDirectory app_{L"hand off"};  // a blank in every path
    std::wstring updater_ = app_.File(L"patcher\\Zerandis_PatcherUpdate.bin");
    std::wstring newExe_ = app_.File(L"Zerandis_Patcher.exe.new");
    std::wstring errorText_ = L"untouched";
};

TEST_F(HandOff, StartsTheBinUpdaterWithTheFullCommandLineFromTheAppDirectory) {
    ASSERT_TRUE(CopyTestHelper(L"start_recorder.exe", updater_));
    ASSERT_TRUE(HandOffSelfUpdate(newExe_, errorText_));
    EXPECT_EQ(errorText_, L"untouched");

    std::wstring commandLine, directory;
    ASSERT_TRUE(WaitForStartRecord(updater_, 20000, commandLine, directory));
    EXPECT_EQ(commandLine, L"\"" + updater_ + L"\" --pid " + std::to_wstring(::GetCurrentProcessId()) +
                               L" --current \"" + OwnExePath + L"\" --new \"" + newExe_ + L"\"");
    EXPECT_EQ(directory, AppDirectory);
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(HandOff, MissingUpdaterIsNamedByItsFullPath) {
    EXPECT_FALSE(HandOffSelfUpdate(newExe_, errorText_));
    EXPECT_EQ(errorText_, L"Brakuje pomocnika samoaktualizacji: " + updater_);
    Settings.updaterPath = L"tools\\Updater.bin";  // and in a directory that does not exist
    EXPECT_FALSE(HandOffSelfUpdate(newExe_, errorText_));
    EXPECT_EQ(errorText_, L"Brakuje pomocnika samoaktualizacji: " + app_.File(L"tools\\Updater.bin"));
}

TEST_F(HandOff, UpdaterThatIsNotAProgramIsReportedWithTheSystemText) {
    ASSERT_TRUE(WriteFileBytes(updater_, "not a program"));
    EXPECT_FALSE(HandOffSelfUpdate(newExe_, errorText_));
    EXPECT_EQ(errorText_, L"Nie można uruchomić aktualizatora: " + WindowsErrorText(ERROR_BAD_EXE_FORMAT));
}

}  // namespace
