// Quick checks of the matching rules and the window and process probes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "common/app_paths.h"
#include "stand_in.h"
#include "system/configurator_shutdown.h"
#include "system/game_shutdown.h"
#include "system/process_shutdown.h"

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
    const std::wstring name = GameImageName(own);  // shutdown_rules_test.exe
    std::wstring upper = name;
    for (wchar_t& c : upper) c = (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;

    const std::vector<DWORD> ids = FindProcessesByImageName(upper);
    EXPECT_NE(std::find(ids.begin(), ids.end(), ::GetCurrentProcessId()), ids.end());
    EXPECT_TRUE(FindProcessesByImageName(L"shutdown_rules_test.ex").empty());
    EXPECT_TRUE(FindProcessesByImageName(L"").empty());
}

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

TEST(PostCloseToProcessWindows, PostsCloseOnlyToWindowsOfTheGivenProcess) {
    HWND window = ::CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    DWORD otherId = ::GetCurrentProcessId() + 4;
    EXPECT_EQ(PostCloseToProcessWindows(window, reinterpret_cast<LPARAM>(&otherId)), TRUE);
    MSG message;
    EXPECT_FALSE(::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));

    DWORD ownId = ::GetCurrentProcessId();
    ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&ownId));
    ASSERT_TRUE(::PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    ::DestroyWindow(window);
}

TEST(IsProcessStillRunning, TellsRunningFromEndedAndUnknown) {
    EXPECT_TRUE(IsProcessStillRunning(::GetCurrentProcessId()));
    EXPECT_FALSE(IsProcessStillRunning(0));

    TempDirectory dir(L"probe");
    StandIn game(dir.File(L"probe.exe"), L"close");
    ASSERT_TRUE(game.Valid());
    EXPECT_TRUE(IsProcessStillRunning(game.Id()));
    DWORD id = game.Id();
    ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&id));
    EXPECT_EQ(game.WaitExitCode(10000), kStandInClosedExitCode);
    // The test still holds a handle, so the id cannot be reused meanwhile.
    EXPECT_FALSE(IsProcessStillRunning(game.Id()));
}

}  // namespace
