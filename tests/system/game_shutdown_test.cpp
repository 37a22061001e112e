// The game's image name and process search; CloseRunningGame against real
// stand-in game processes, taking the real 8 s grace period where a game
// ignores the close request.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "config/log.h"
#include "config/settings.h"
#include "stand_in.h"
#include "system/game_shutdown.h"
#include "system/process_shutdown.h"

#include <sddl.h>

namespace {

TEST(GameImageName, KeepsOnlyTheLastComponent) {
    EXPECT_EQ(GameImageName(L"Zerandis.exe"), L"Zerandis.exe");
    EXPECT_EQ(GameImageName(L"bin\\x64\\Zerandis.exe"), L"Zerandis.exe");
    EXPECT_EQ(GameImageName(L"bin/Zerandis.exe"), L"Zerandis.exe");
    EXPECT_EQ(GameImageName(L"C:\\Gry\\Łódź Game.exe"), L"Łódź Game.exe");
    EXPECT_EQ(GameImageName(L"bin\\"), L"");
}

TEST(FindProcessesByImageName, FoldsOnlyAsciiLetters) {
    std::wstring own(MAX_PATH * 4, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    const std::wstring name = GameImageName(own);  // game_shutdown_test.exe
    std::wstring upper = name;
    for (wchar_t& c : upper) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;

    const std::vector<DWORD> ids = FindProcessesByImageName(upper);
    EXPECT_NE(std::find(ids.begin(), ids.end(), ::GetCurrentProcessId()), ids.end());
    EXPECT_TRUE(FindProcessesByImageName(L"game_shutdown_test.ex").empty());
    EXPECT_TRUE(FindProcessesByImageName(L"").empty());
}

using Messages = std::vector<std::wstring>;

// Denies SYNCHRONIZE on the process to everyone; other rights stay granted.
bool DenySynchronize(DWORD processId) {
    KernelHandle process(::OpenProcess(WRITE_DAC, FALSE, processId));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!process || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        L"D:(D;;0x100000;;;WD)(A;;0x1FFFFF;;;WD)", SDDL_REVISION_1, &descriptor, nullptr)) {
        return false;
    }
    const bool set = ::SetKernelObjectSecurity(process.Get(), DACL_SECURITY_INFORMATION, descriptor);
    ::LocalFree(descriptor);
    return set;
}

// Wine grants SYNCHRONIZE whatever a process's DACL says. There this program's
// own OpenProcess refuses it for one process instead, as Windows does for the
// DACL above: its import address table slot is swapped for the test's span.
DWORD RefusedId = 0;
decltype(&::OpenProcess) RealOpenProcess = nullptr;

HANDLE WINAPI OpenProcessRefusingSynchronize(DWORD access, BOOL inherit, DWORD id) {
    if (id != RefusedId || (access & SYNCHRONIZE) == 0) return RealOpenProcess(access, inherit, id);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

void** OpenProcessSlot() {
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& iat = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    auto** slots = reinterpret_cast<void**>(base + iat.VirtualAddress);
    for (DWORD i = 0; i < iat.Size / sizeof(void*); ++i) {
        if (slots[i] == reinterpret_cast<void*>(&::OpenProcess)) return &slots[i];
    }
    return nullptr;
}

class SynchronizeRefused {
public:
    explicit SynchronizeRefused(DWORD id) : slot_(OpenProcessSlot()) {
        RefusedId = id;
        if (slot_ == nullptr) return;
        RealOpenProcess = reinterpret_cast<decltype(&::OpenProcess)>(*slot_);
        Set(reinterpret_cast<void*>(&OpenProcessRefusingSynchronize));
    }
    ~SynchronizeRefused() {
        if (slot_ != nullptr) Set(reinterpret_cast<void*>(RealOpenProcess));
    }

private:
    void Set(void* target) {
        DWORD old = 0;
        ::VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        *slot_ = target;
        ::VirtualProtect(slot_, sizeof(void*), old, &old);
    }
    void** slot_;
};

class GameShutdown : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppPaths(app_.File(L"Zerandis_Patcher.exe"));
        Settings.gameExe = L"Zerandis.exe";
        CancelRequested = false;
    }
    void TearDown() override { CancelRequested = false; }

    TempDirectory app_{L"game"};
    TempDirectory elsewhere_{L"elsewhere"};
    std::wstring errorText_ = L"untouched";
};

TEST_F(GameShutdown, NoGameRunningReturnsAtOnceAndLogsNothing) {
    Settings.gameExe = L"NoSuchGame_7f3.exe";
    const auto start = ::GetTickCount64();
    EXPECT_TRUE(CloseRunningGame(errorText_));
    EXPECT_LT(ElapsedMs(start), 2000u);
    EXPECT_EQ(errorText_, L"untouched");
    EXPECT_FALSE(std::filesystem::exists(LogFilePath()));
}

TEST_F(GameShutdown, GameThatClosesIsNotTerminated) {
    StandIn game(app_.File(L"Zerandis.exe"), L"close");
    ASSERT_TRUE(game.Valid());
    EXPECT_TRUE(CloseRunningGame(errorText_));
    EXPECT_EQ(game.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(errorText_, L"untouched");
    EXPECT_EQ(LogMessages(), (Messages{L"Wykryto uruchomioną grę. Próba normalnego zamknięcia.",
                                       L"Gra została zamknięta normalnie."}));
}

TEST_F(GameShutdown, GameThatCannotBeObservedIsStillAskedToClose) {
    StandIn game(app_.File(L"Zerandis.exe"), L"close");
    ASSERT_TRUE(game.Valid());
    ASSERT_TRUE(DenySynchronize(game.Id()));
    const SynchronizeRefused refused(game.Id());
    ASSERT_FALSE(IsProcessStillRunning(game.Id()));
    EXPECT_TRUE(CloseRunningGame(errorText_));
    EXPECT_EQ(game.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(LogMessages(), (Messages{L"Wykryto uruchomioną grę. Próba normalnego zamknięcia.",
                                       L"Gra została zamknięta normalnie."}));
}

TEST_F(GameShutdown, GameThatIgnoresCloseIsForcedAfterTheGracePeriod) {
    StandIn game(app_.File(L"Zerandis.exe"), L"ignore");
    ASSERT_TRUE(game.Valid());
    const auto start = ::GetTickCount64();
    EXPECT_TRUE(CloseRunningGame(errorText_));
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 7500u);
    EXPECT_LT(elapsed, 20000u);
    EXPECT_EQ(game.WaitExitCode(5000), 0u);
    EXPECT_EQ(errorText_, L"untouched");
    EXPECT_EQ(LogMessages(), (Messages{L"Wykryto uruchomioną grę. Próba normalnego zamknięcia.",
                                       L"Gra nie zamknęła się w wyznaczonym czasie. Wymuszenie zakończenia.",
                                       L"Proces gry został zakończony przed aktualizacją."}));
}

TEST_F(GameShutdown, GracePeriodWaitsForTheSlowerOfTwoGames) {
    StandIn quick(app_.File(L"Zerandis.exe"), L"close");
    StandIn slow(elsewhere_.File(L"ZERANDIS.EXE"), L"1500");
    ASSERT_TRUE(quick.Valid() && slow.Valid());
    const auto start = ::GetTickCount64();
    EXPECT_TRUE(CloseRunningGame(errorText_));
    const auto elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 7500u);
    EXPECT_EQ(quick.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(slow.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(LogMessages().back(), L"Gra została zamknięta normalnie.");
}

TEST_F(GameShutdown, TwoGamesBothAskedAndTheStubbornOneForced) {
    StandIn polite(app_.File(L"Zerandis.exe"), L"close");
    StandIn stubborn(elsewhere_.File(L"Zerandis.exe"), L"ignore");
    ASSERT_TRUE(polite.Valid() && stubborn.Valid());
    const auto start = ::GetTickCount64();
    EXPECT_TRUE(CloseRunningGame(errorText_));
    EXPECT_GE(ElapsedMs(start), 7500u);
    EXPECT_EQ(polite.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(stubborn.WaitExitCode(5000), 0u);
    EXPECT_EQ(LogMessages().back(), L"Proces gry został zakończony przed aktualizacją.");
}

TEST_F(GameShutdown, CancelDuringTheGracePeriodLeavesTheGameRunning) {
    StandIn game(app_.File(L"Zerandis.exe"), L"ignore");
    ASSERT_TRUE(game.Valid());
    std::thread canceller([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        CancelRequested = true;
    });
    const auto start = ::GetTickCount64();
    const bool closed = CloseRunningGame(errorText_);
    const auto elapsed = ElapsedMs(start);
    canceller.join();
    EXPECT_FALSE(closed);
    EXPECT_EQ(errorText_, L"Operacja została anulowana.");
    EXPECT_GE(elapsed, 900u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_TRUE(game.Running());
    EXPECT_EQ(LogMessages(), (Messages{L"Wykryto uruchomioną grę. Próba normalnego zamknięcia."}));
}

TEST_F(GameShutdown, SettingWithDirectoryMatchesByFileNameInAnyDirectory) {
    Settings.gameExe = L"bin\\Zerandis.exe";
    StandIn game(elsewhere_.File(L"Zerandis.exe"), L"close");
    ASSERT_TRUE(game.Valid());
    EXPECT_TRUE(CloseRunningGame(errorText_));
    EXPECT_EQ(game.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(LogMessages().back(), L"Gra została zamknięta normalnie.");
}

}  // namespace
