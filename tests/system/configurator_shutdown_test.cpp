// CloseRunningConfigurators against real stand-in configurators in the
// application directory and elsewhere; the forced case takes the real 5 s.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "config/log.h"
#include "stand_in.h"
#include "system/configurator_shutdown.h"

namespace {

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
