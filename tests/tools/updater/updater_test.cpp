// The updater program: its bounded wait in-process, the whole handoff by
// running the real Zerandis_PatcherUpdate.bin against a stand-in patcher. The
// old patcher is a copy of stand_in_game.exe, the new one a copy of
// start_recorder.exe, so a started new patcher leaves a record.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/app_paths.h"
#include "config/log.h"
#include "stand_in.h"
#include "system/process_shutdown.h"
#include "system/self_update.h"
#include "updater.h"

namespace {

using Messages = std::vector<std::wstring>;

// A multiple of 4 far above any id the system hands out.
constexpr DWORD kNoSuchPid = 4294967280u;

class Updater : public ::testing::Test {
protected:
    void SetUp() override {
        SetAppPaths(current_);  // LogMessages reads the patcher's log
        ASSERT_TRUE(CopyTestHelper(L"stand_in_game.exe", current_));
        ASSERT_TRUE(CopyTestHelper(L"start_recorder.exe", newExe_));
        oldBytes_ = ReadFileBytes(current_);
        newBytes_ = ReadFileBytes(newExe_);
        ASSERT_NE(oldBytes_, newBytes_);
    }

    static std::wstring Program() { return TestHelperPath(L"Zerandis_PatcherUpdate.bin"); }

    // The real updater, started with `arguments` after its quoted path.
    static KernelHandle StartProgram(const std::wstring& arguments) {
        return StartWithCommandLine(L"\"" + Program() + L"\" " + arguments);
    }

    static KernelHandle StartWithCommandLine(std::wstring commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(Program().c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                              nullptr, nullptr, &startup, &info)) {
            return KernelHandle();
        }
        ::CloseHandle(info.hThread);
        return KernelHandle(info.hProcess);
    }

    // The handoff exactly as the patcher starts it.
    KernelHandle StartHandoff(DWORD pid) const {
        return StartWithCommandLine(BuildUpdaterCommandLine(Program(), pid, current_, newExe_));
    }

    // The exit code, or ~0u when it still runs after `timeoutMs` (it is then ended).
    static DWORD ExitCode(const KernelHandle& process, DWORD timeoutMs) {
        if (!process) return ~0u;
        if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
            ::TerminateProcess(process.Get(), 99);
            return ~0u;
        }
        DWORD code = ~0u;
        ::GetExitCodeProcess(process.Get(), &code);
        return code;
    }

    TempDirectory app_{L"updater run"};  // a blank in every path
    std::wstring current_ = app_.File(L"Zerandis_Patcher.exe");
    std::wstring newExe_ = current_ + L".new";
    std::string oldBytes_;
    std::string newBytes_;
};

TEST_F(Updater, WaitsForThePatcherThenReplacesAndStartsIt) {
    StandIn patcher(current_, L"close");
    ASSERT_TRUE(patcher.Valid());
    KernelHandle updater = StartHandoff(patcher.Id());
    ASSERT_TRUE(updater);

    ::Sleep(1000);
    EXPECT_EQ(::WaitForSingleObject(updater.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ReadFileBytes(current_), oldBytes_);  // nothing moves while the patcher runs
    DWORD id = patcher.Id();
    ::EnumWindows(PostCloseToProcessWindows, reinterpret_cast<LPARAM>(&id));
    EXPECT_EQ(patcher.WaitExitCode(5000), kStandInClosedExitCode);
    EXPECT_EQ(ExitCode(updater, 20000), static_cast<DWORD>(kUpdaterDone));

    EXPECT_EQ(ReadFileBytes(current_), newBytes_);
    EXPECT_FALSE(std::filesystem::exists(newExe_));
    std::wstring commandLine, directory;
    ASSERT_TRUE(WaitForStartRecord(current_, 20000, commandLine, directory));
    EXPECT_EQ(commandLine, L"\"" + current_ + L"\"");
    EXPECT_EQ(directory, app_.Path());
    const std::wstring pid = std::to_wstring(id);
    EXPECT_EQ(LogMessages(), (Messages{L"Aktualizator: oczekiwanie na zakończenie patchera (PID: " + pid + L").",
                                       L"Aktualizator: patcher zakończył działanie.",
                                       L"Aktualizator: podmieniono plik patchera: " + current_,
                                       L"Aktualizator: uruchomiono patcher: " + current_}));
}

TEST_F(Updater, PatcherThatDoesNotEndInTimeIsLeftAlone) {
    StandIn patcher(current_, L"ignore");
    ASSERT_TRUE(patcher.Valid());
    const std::wstring pid = std::to_wstring(patcher.Id());
    UpdaterArgs args = ParseUpdaterArgs({L"--pid", pid, L"--current", current_, L"--new", newExe_});
    ASSERT_EQ(args.problem, L"");
    args.waitMs = 1000;

    const auto start = ::GetTickCount64();
    EXPECT_EQ(RunUpdater(args), kUpdaterPatcherStillRunning);
    EXPECT_GE(ElapsedMs(start), 950u);
    EXPECT_TRUE(patcher.Running());
    EXPECT_EQ(ReadFileBytes(current_), oldBytes_);
    EXPECT_EQ(ReadFileBytes(newExe_), newBytes_);
    EXPECT_EQ(LogMessages(),
              (Messages{L"Aktualizator: oczekiwanie na zakończenie patchera (PID: " + pid + L").",
                        L"Aktualizator: BLAD: Patcher (PID: " + pid +
                            L") nadal działa po 1 s. Plik patchera pozostaje bez zmian."}));
}

TEST_F(Updater, MissingNewFileLeavesThePatcherAsItIs) {
    ASSERT_TRUE(::DeleteFileW(newExe_.c_str()));
    EXPECT_EQ(ExitCode(StartHandoff(kNoSuchPid), 20000), static_cast<DWORD>(kUpdaterNewFileMissing));
    EXPECT_EQ(ReadFileBytes(current_), oldBytes_);
    EXPECT_EQ(LogMessages(), (Messages{L"Aktualizator: oczekiwanie na zakończenie patchera (PID: 4294967280).",
                                       L"Aktualizator: proces patchera (PID: 4294967280) już się zakończył.",
                                       L"Aktualizator: BLAD: Brak nowego pliku patchera: " + newExe_}));
}

TEST_F(Updater, PatcherFileHeldOpenIsKeptAndTheNewFileStays) {
    FileHandle held = HoldWithoutSharing(current_);
    ASSERT_TRUE(held);
    EXPECT_EQ(ExitCode(StartHandoff(kNoSuchPid), 30000), static_cast<DWORD>(kUpdaterReplaceFailed));
    held.Reset();

    EXPECT_EQ(ReadFileBytes(current_), oldBytes_);
    EXPECT_EQ(ReadFileBytes(newExe_), newBytes_);
    const Messages log = LogMessages();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].rfind(L"Nieudana podmiana pliku po 30 próbach: " + current_ + L" | błąd: ", 0), 0u) << log[2];
    EXPECT_EQ(log[3].rfind(L"Aktualizator: BLAD: Nie można podmienić " + current_ + L": ", 0), 0u) << log[3];
}

TEST_F(Updater, BadArgumentsTouchNothing) {
    const std::wstring quotedCurrent = L"\"" + current_ + L"\"";
    const std::wstring quotedNew = L"\"" + newExe_ + L"\"";
    // With a usable --current the reason goes to the patcher's log.
    EXPECT_EQ(ExitCode(StartProgram(L"--pid 12x --current " + quotedCurrent + L" --new " + quotedNew), 20000),
              static_cast<DWORD>(kUpdaterBadArguments));
    EXPECT_EQ(ExitCode(StartProgram(L"--pid 12 --current " + quotedCurrent + L" --new " + quotedCurrent), 20000),
              static_cast<DWORD>(kUpdaterBadArguments));
    EXPECT_EQ(LogMessages(),
              (Messages{L"Aktualizator: BLAD: Nieprawidłowe argumenty wywołania: "
                        L"nieprawidłowy identyfikator procesu: 12x.",
                        L"Aktualizator: BLAD: Nieprawidłowe argumenty wywołania: "
                        L"--new wskazuje ten sam plik co --current: " + current_ + L"."}));
    // Without one there is nowhere to log to.
    EXPECT_EQ(ExitCode(StartProgram(L"--pid 12 --new " + quotedNew), 20000),
              static_cast<DWORD>(kUpdaterBadArguments));
    EXPECT_EQ(LogMessages().size(), 2u);
    EXPECT_EQ(ReadFileBytes(current_), oldBytes_);
    EXPECT_EQ(ReadFileBytes(newExe_), newBytes_);
}

}  // namespace
