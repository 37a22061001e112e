// The real patcher killed at random moments of its downloads: no client file
// is ever left half-written, and the next run completes and leaves no staging
// files behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "common/handle.h"
#include "common/text.h"
#include "net/file_md5.h"
#include "net_test_env.h"
#include "run_harness.h"
#include "update/run_report.h"

namespace {

constexpr int kKills = 20;
constexpr std::size_t kFileSize = 8u << 20;
const wchar_t* const kFiles[] = {L"Dane\\a.pak", L"Dane\\b.pak", L"Dane\\c.pak", L"d.pak"};

std::string FileBytes(int variant) {
    std::string bytes = PatternBytes(kFileSize);
    for (std::size_t i = 0; i < bytes.size(); i += 4096) bytes[i] = static_cast<char>(variant);
    return bytes;
}

std::wstring Md5(const std::wstring& path) {
    std::wstring md5, error;
    return ComputeFileMd5(path, md5, error) ? md5 : L"<unreadable>";
}

std::vector<std::wstring> StagingLeftovers(const std::wstring& dir) {
    std::vector<std::wstring> found;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
        const std::wstring name = item.path().wstring();
        if (name.ends_with(L".download") || name.ends_with(L".new")) found.push_back(name);
    }
    return found;
}

// The real patcher of the game folder, started as a player starts it.
void StartPatcher(const std::wstring& exe, const std::wstring& folder, KernelHandle& process) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                 &startup, &info));
    process = KernelHandle(info.hProcess);
    ::CloseHandle(info.hThread);
}

void Kill(KernelHandle& process) {
    ::TerminateProcess(process.Get(), 9);
    ::WaitForSingleObject(process.Get(), 10000);
}

using InterruptedRunTest = RunTest;

TEST_F(InterruptedRunTest, KilledMidDownloadLeavesOnlyWholeFiles) {
    const std::string oldBytes = FileBytes(1);
    std::vector<ManifestEntry> entries;
    for (const wchar_t* file : kFiles) entries.push_back(Publish(file, FileBytes(2)));
    WriteManifest();
    WriteIni();
    const std::wstring exe = GameFile(L"Zerandis_Patcher.exe");
    ASSERT_TRUE(::CopyFileW((L"Z:" + Utf8ToWide(PATCHER_EXE)).c_str(), exe.c_str(), FALSE));
    for (const wchar_t* file : kFiles) WriteGameFile(file, oldBytes);
    const std::wstring oldMd5 = Md5(GameFile(kFiles[0]));

    // Install lines the patcher logged after its first `from` log lines.
    const auto installsSince = [this](std::size_t from) {
        const std::vector<std::wstring> log = Log();
        std::size_t installs = 0;
        for (std::size_t i = from; i < log.size(); ++i) installs += log[i].starts_with(L"Podmieniono plik lokalny: ");
        return installs;
    };
    // Waits (at most 10 minutes) until `count` files are installed after log line `from`.
    const auto waitForInstalls = [&](std::size_t from, std::size_t count) {
        const ULONGLONG start = ::GetTickCount64();
        while (installsSince(from) < count && ::GetTickCount64() - start < 600000) ::Sleep(10);
        return ::GetTickCount64() - start;
    };

    // One whole run first, to learn this machine's pace (an emulated 32-bit
    // Wine runs many times slower than a native one): how long until the first
    // file is installed, and then each further one.
    KernelHandle process;
    StartPatcher(exe, GameDir(), process);
    const ULONGLONG first = waitForInstalls(0, 1);
    const ULONGLONG perFile = waitForInstalls(0, entries.size()) / (entries.size() - 1);
    Kill(process);
    ASSERT_EQ(installsSince(0), entries.size()) << "the measuring run did not install every file";
    for (const wchar_t* file : kFiles) WriteGameFile(file, oldBytes);
    std::printf("measured: the first file installed after %llu ms, then one every %llu ms\n", first, perFile);

    // Each kill waits for a chosen number of installs, then falls at a random
    // moment of the next download (or of the first, before any install).
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::size_t> installsBefore(0, entries.size() - 1);
    int midPhase = 0;  // kills that found some files new and some still old
    for (int kill = 0; kill < kKills; ++kill) {
        const std::size_t logLines = Log().size();
        const std::size_t waitFor = installsBefore(random);
        StartPatcher(exe, GameDir(), process);
        if (waitFor > 0) waitForInstalls(logLines, waitFor);
        const ULONGLONG wait = std::uniform_int_distribution<ULONGLONG>(0, waitFor > 0 ? perFile : first)(random);
        ::Sleep(static_cast<DWORD>(wait));
        Kill(process);

        std::size_t installed = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::wstring md5 = Md5(GameFile(kFiles[i]));
            EXPECT_TRUE(md5 == oldMd5 || md5 == entries[i].md5)
                << "kill " << kill << " " << wait << " ms after install " << waitFor << " left a partial " << WideToUtf8(kFiles[i]);
            installed += md5 == entries[i].md5;
        }
        midPhase += installed > 0 && installed < entries.size();
        std::printf("kill %2d, %llu ms after install %zu: %zu of %zu files installed\n", kill, wait, waitFor,
                    installed, entries.size());
        // Back to the old client, staging leftovers kept, so every start has work to do.
        for (const wchar_t* file : kFiles) {
            if (Md5(GameFile(file)) != oldMd5) WriteGameFile(file, oldBytes);
        }
    }
    EXPECT_GE(midPhase, 3) << "too few kills landed between two installations";

    // The next run completes and cleans up after the interrupted ones.
    const std::vector<Posted> posted = Run();
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(Md5(GameFile(kFiles[i])), entries[i].md5);
    EXPECT_TRUE(StagingLeftovers(GameDir()).empty());
}

}  // namespace
