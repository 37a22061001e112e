#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/app_paths.h"
#include "common/win_compat.h"
#include "config/settings.h"

namespace {

namespace fs = std::filesystem;

// A fresh game directory per test with AppDirectory pointing at it and the
// settings back at their built-in defaults.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() / (std::string("zp_settings_") + info->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
        SetAppPaths((directory_ / L"Zerandis_Patcher.exe").wstring());
        Settings = PatcherSettings{};
    }
    void TearDown() override {
        Settings = PatcherSettings{};
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

    void WriteIni(const std::string& content) {
        std::ofstream out(directory_ / L"patcher.ini", std::ios::binary | std::ios::trunc);
        out << content;
    }

    bool Load() { return LoadSettings(error_); }

    fs::path directory_;
    std::wstring error_ = L"untouched";
};

TEST_F(SettingsTest, MissingFileKeepsBuiltInDefaults) {
    ASSERT_TRUE(Load());
    EXPECT_EQ(error_, L"untouched");
    EXPECT_EQ(Settings.baseUrl, PATCHER_DEFAULT_BASE_URL);
    EXPECT_EQ(Settings.manifestPath, L"manifest.md5");
    EXPECT_EQ(Settings.gameExe, L"Zerandis.exe");
    EXPECT_EQ(Settings.patcherExe, L"Zerandis_Patcher.exe");
    EXPECT_EQ(Settings.updaterPath, L"patcher\\Zerandis_PatcherUpdate.bin");
}

TEST_F(SettingsTest, EveryKeyIsReadAndTrimmed) {
    WriteIni("[OTHER]\r\nBASE_URL=https://wrong.example/\r\n"
             "[PATCHER]\r\n"
             "BASE_URL= \thttps://patch.example/cdn\t \r\n"
             "MANIFEST=files/list.md5\r\n"
             "GAME_EXE=bin\\Game.exe\r\n"
             "PATCHER_EXE=Patch.exe\r\n"
             "UPDATER=upd.bin\r\n"
             "UNKNOWN=x\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.baseUrl, L"https://patch.example/cdn/");
    EXPECT_EQ(Settings.manifestPath, L"files/list.md5");
    EXPECT_EQ(Settings.gameExe, L"bin\\Game.exe");
    EXPECT_EQ(Settings.patcherExe, L"Patch.exe");
    EXPECT_EQ(Settings.updaterPath, L"upd.bin");
    EXPECT_EQ(error_, L"untouched");
}

TEST_F(SettingsTest, BaseUrlNormalisation) {
    WriteIni("[PATCHER]\nBASE_URL=https://a.example/dir/\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.baseUrl, L"https://a.example/dir/");

    WriteIni("[PATCHER]\nBASE_URL=https://\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.baseUrl, L"https://");
}

TEST_F(SettingsTest, EmptyBaseUrlIsRejectedDespiteTheDefault) {
    WriteIni("[PATCHER]\nBASE_URL=   \nGAME_EXE=G.exe\n");
    ASSERT_FALSE(Load());
    EXPECT_EQ(error_, L"Adres serwera aktualizacji jest pusty.");
    EXPECT_EQ(Settings.gameExe, L"G.exe");  // keys after BASE_URL were still read
}

TEST_F(SettingsTest, NonHttpsBaseUrlIsRejected) {
    for (const char* url : {"http://a.example/", "HTTPS://a.example/", "Https://a/", "https:/", "ftp://x"}) {
        Settings = PatcherSettings{};
        error_.clear();
        WriteIni(std::string("[PATCHER]\nBASE_URL=") + url + "\n");
        EXPECT_FALSE(Load()) << url;
        EXPECT_EQ(error_, L"Adres serwera aktualizacji musi używać HTTPS.") << url;
    }
    // The failing value is kept for the next run.
    EXPECT_EQ(Settings.baseUrl, L"ftp://x");
}

TEST_F(SettingsTest, RemovedKeyKeepsThePreviousRunsValue) {
    WriteIni("[PATCHER]\nBASE_URL=https://first.example\nMANIFEST=first.md5\n");
    ASSERT_TRUE(Load());
    WriteIni("[PATCHER]\nGAME_EXE=Other.exe\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.baseUrl, L"https://first.example/");
    EXPECT_EQ(Settings.manifestPath, L"first.md5");
    EXPECT_EQ(Settings.gameExe, L"Other.exe");

    fs::remove(directory_ / L"patcher.ini");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.manifestPath, L"first.md5");
    EXPECT_EQ(Settings.gameExe, L"Other.exe");
}

TEST_F(SettingsTest, EmptyValuesOtherThanBaseUrlAreStored) {
    WriteIni("[PATCHER]\nMANIFEST=\nUPDATER= \n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.manifestPath, L"");
    EXPECT_EQ(Settings.updaterPath, L"");
}

TEST_F(SettingsTest, LongValueIsCutAt2047Characters) {
    const std::string longName(3000, 'x');
    WriteIni("[PATCHER]\nGAME_EXE=" + longName + "\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.gameExe, std::wstring(2047, L'x'));
}

TEST_F(SettingsTest, ReadIniValueFallsBackToTheDefault) {
    WriteIni("[PATCHER]\nMANIFEST=\t m.md5 \t\n");
    const std::wstring ini = (directory_ / L"patcher.ini").wstring();
    EXPECT_EQ(ReadIniValue(ini, L"MANIFEST", L"d"), L"m.md5");
    EXPECT_EQ(ReadIniValue(ini, L"MISSING", L"  fallback "), L"fallback");
    EXPECT_EQ(ReadIniValue((directory_ / L"none.ini").wstring(), L"MANIFEST", L"d"), L"d");
}

TEST_F(SettingsTest, DirectoryNamedLikeTheFileCountsAsPresent) {
    fs::create_directories(directory_ / L"patcher.ini");
    Settings.baseUrl = L"https://kept.example";
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.baseUrl, L"https://kept.example/");
}

TEST_F(SettingsTest, Utf8WithOrWithoutAMarkIsReadAsUtf8AndOtherBytesAsAnsi) {
    const std::string name = "Gra \xC5\x82\xC3\xB3" "d\xC5\xBA.exe";
    for (const std::string mark : {"\xEF\xBB\xBF", ""}) {
        WriteIni(mark + "[PATCHER]\r\nGAME_EXE=" + name + "\r\n");
        ASSERT_TRUE(Load());
        EXPECT_EQ(Settings.gameExe, L"Gra łódź.exe") << mark.size();
    }
    const std::string ansi = "Gra \xB3\xF3" "d\x9F.exe";  // not UTF-8: the system's code page reads it
    wchar_t expected[32]{};
    ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, expected, 32);
    WriteIni("[PATCHER]\r\nGAME_EXE=" + ansi + "\r\n");
    ASSERT_TRUE(Load());
    EXPECT_EQ(Settings.gameExe, expected);
}

}  // namespace
