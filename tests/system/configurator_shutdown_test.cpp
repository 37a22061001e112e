// Which files are the configurator's and when two paths name one file;
// CloseRunningConfigurators against real stand-in configurators in the
// application directory and elsewhere; the forced case takes the real 5 s.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "config/log.h"
#include "stand_in.h"
#include "system/configurator_shutdown.h"

namespace {

ManifestEntry Entry(const std::wstring& path) { return ManifestEntry{std::wstring(32, L'0'), 1, path}; }

TEST(IsConfiguratorFile, MatchesTheFileNameInAnyDirectoryAndCase) {
    EXPECT_TRUE(IsConfiguratorFile(Entry(L"config.exe")));
    EXPECT_TRUE(IsConfiguratorFile(Entry(L"CONFIG.INI")));
    EXPECT_TRUE(IsConfiguratorFile(Entry(L"Data\\Settings\\Config.Ini")));
    EXPECT_TRUE(IsConfiguratorFile(Entry(L"data/config.exe")));
    EXPECT_FALSE(IsConfiguratorFile(Entry(L"config.exe\\readme.txt")));
    EXPECT_FALSE(IsConfiguratorFile(Entry(L"OrkumiConfig.exe")));
    EXPECT_FALSE(IsConfiguratorFile(Entry(L"config.exe.bak")));
    EXPECT_FALSE(IsConfiguratorFile(Entry(L"xconfig.ini")));
}

TEST(IsSamePath, IgnoresCaseSlashesAndDotComponents) {
    TempDirectory dir(L"rules");
    const std::wstring file = dir.File(L"config.exe");
    std::ofstream(std::filesystem::path(file)) << "x";

    std::wstring upper = dir.Path() + L"\\CONFIG.EXE";
    std::wstring slashes = dir.Path() + L"/config.exe";
    for (wchar_t& c : slashes) c = c == L'\\' ? L'/' : c;
    EXPECT_TRUE(IsSamePath(file, upper));
    EXPECT_TRUE(IsSamePath(file, slashes));
    EXPECT_TRUE(IsSamePath(file, dir.Path() + L"\\.\\config.exe"));
    EXPECT_TRUE(IsSamePath(file, dir.Path() + L"\\sub\\..\\config.exe"));
    EXPECT_FALSE(IsSamePath(file, dir.File(L"OrkumiConfig.exe")));
    EXPECT_FALSE(IsSamePath(file, dir.Path() + L"\\other\\config.exe"));

    // Only the file on disk knows that an 8.3 name is the same file.
    const std::wstring longName = dir.File(L"OrkumiConfigurator.exe");
    std::ofstream(std::filesystem::path(longName)) << "x";
    wchar_t shortName[MAX_PATH] = L"";
    ASSERT_GT(::GetShortPathNameW(longName.c_str(), shortName, MAX_PATH), 0u);
    ASSERT_NE(FileNamePart(shortName), L"OrkumiConfigurator.exe");
    EXPECT_TRUE(IsSamePath(shortName, longName));
}

TEST(IsSamePath, WorksForPathsThatDoNotExist) {
    EXPECT_TRUE(IsSamePath(L"C:\\NoSuchDir_q\\A\\.\\Config.exe", L"c:/nosuchdir_q/a/config.exe"));
    EXPECT_FALSE(IsSamePath(L"C:\\NoSuchDir_q\\A\\config.exe", L"C:\\NoSuchDir_q\\B\\config.exe"));
    // Only A-Z fold: other letters must match exactly.
    EXPECT_FALSE(IsSamePath(L"C:\\NoSuchDir_q\\Ł\\config.exe", L"C:\\NoSuchDir_q\\ł\\config.exe"));
}

using Messages = std::vector<std::wstring>;

class ConfiguratorShutdown : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppPaths(app_.File(L"Zerandis_Patcher.exe"));
        CancelRequested = false;
    }

    TempDirectory app_{L"cfg"};
    TempDirectory elsewhere_{L"cfgelse"};
    std::wstring errorText_ = L"untouched";
};

// "Wykryto proces konfiguratora: <image path> | PID: <id>" naming `image`.
void ExpectDetectionLine(const std::wstring& line, const std::wstring& image, DWORD id) {
    const std::wstring head = L"Wykryto proces konfiguratora: ";
    const std::wstring tail = L" | PID: " + std::to_wstring(id);
    ASSERT_GT(line.size(), head.size() + tail.size()) << line;
    EXPECT_EQ(line.substr(0, head.size()), head);
    EXPECT_EQ(line.substr(line.size() - tail.size()), tail);
    EXPECT_TRUE(IsSamePath(line.substr(head.size(), line.size() - head.size() - tail.size()), image)) << line;
}

TEST_F(ConfiguratorShutdown, NoneRunningReturnsAtOnceAndLogsNothing) {
    EXPECT_TRUE(FindConfiguratorProcesses().empty());
    EXPECT_TRUE(CloseRunningConfigurators(errorText_));
    EXPECT_EQ(errorText_, L"untouched");
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(ConfiguratorShutdown, OnlyTheOneFromTheAppDirectoryIsClosed) {
    StandIn mine(app_.File(L"config.exe"), L"close");
    StandIn foreign(elsewhere_.File(L"config.exe"), L"close");
    ASSERT_TRUE(mine.Valid() && foreign.Valid());
    EXPECT_TRUE(CloseRunningConfigurators(errorText_));
    EXPECT_EQ(mine.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_TRUE(foreign.Running());
    EXPECT_EQ(errorText_, L"untouched");
    const Messages log = LogMessages();
    ASSERT_EQ(log.size(), 3u);
    ExpectDetectionLine(log[0], app_.File(L"config.exe"), mine.Id());
    EXPECT_EQ(log[1], L"Wykryto uruchomiony konfigurator w katalogu gry. Próba normalnego zamknięcia.");
    EXPECT_EQ(log[2], L"Konfigurator został zamknięty normalnie.");
}

TEST_F(ConfiguratorShutdown, FindsAllThreeNamesSortedAndIgnoresOtherNames) {
    StandIn a(app_.File(L"Zerandis_config.exe"), L"close");
    StandIn b(app_.File(L"OrkumiConfig.exe"), L"close");
    StandIn c(app_.File(L"config.exe"), L"close");
    StandIn other(app_.File(L"configurator.exe"), L"close");
    ASSERT_TRUE(a.Valid() && b.Valid() && c.Valid() && other.Valid());
    std::vector<DWORD> expected{a.Id(), b.Id(), c.Id()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FindConfiguratorProcesses(), expected);
    EXPECT_EQ(LogMessages().size(), 3u);
}

TEST_F(ConfiguratorShutdown, OneFromAnotherDirectoryIsLeftAlone) {
    StandIn foreign(elsewhere_.File(L"OrkumiConfig.exe"), L"close");
    ASSERT_TRUE(foreign.Valid());
    EXPECT_TRUE(CloseRunningConfigurators(errorText_));
    EXPECT_TRUE(foreign.Running());
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(ConfiguratorShutdown, ConfiguratorThatIgnoresCloseIsForcedAfterFiveSeconds) {
    StandIn stubborn(app_.File(L"OrkumiConfig.exe"), L"ignore");
    ASSERT_TRUE(stubborn.Valid());
    const auto start = ::GetTickCount64();
    EXPECT_TRUE(CloseRunningConfigurators(errorText_));
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 4500u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_EQ(stubborn.WaitExitCode(5000), 0u);
    const Messages log = LogMessages();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2], L"Konfigurator nie zamknął się w wyznaczonym czasie. Wymuszenie zakończenia.");
    EXPECT_EQ(log[3], L"Proces konfiguratora został zakończony przed aktualizacją config.exe lub config.ini.");
}

TEST_F(ConfiguratorShutdown, CancelDuringTheGracePeriodLeavesItRunning) {
    StandIn stubborn(app_.File(L"config.exe"), L"ignore");
    ASSERT_TRUE(stubborn.Valid());
    CancelRequested = true;  // seen at the first poll that finds it still running
    EXPECT_FALSE(CloseRunningConfigurators(errorText_));
    CancelRequested = false;
    EXPECT_EQ(errorText_, L"Operacja została anulowana.");
    EXPECT_TRUE(stubborn.Running());
}

}  // namespace
