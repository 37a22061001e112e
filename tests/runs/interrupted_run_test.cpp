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
constexpr std::size_t kFileSize = 32u << 20;
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

using InterruptedRunTest = RunTest;

TEST_F(InterruptedRunTest, KilledMidDownloadLeavesOnlyWholeFiles) {
    const std::string oldBytes = FileBytes(1);
    std::vector<ManifestEntry> entries;
    for (const wchar_t* file : kFiles) entries.push_back(Publish(file, FileBytes(2)));
    WriteManifest();
    WriteIni();
    ASSERT_TRUE(::CopyFileW((L"Z:" + Utf8ToWide(PATCHER_EXE)).c_str(), GameFile(L"Zerandis_Patcher.exe").c_str(),
                            FALSE));
    for (const wchar_t* file : kFiles) WriteGameFile(file, oldBytes);
    const std::wstring oldMd5 = Md5(GameFile(kFiles[0]));

    std::mt19937 random(20261208);
    std::uniform_int_distribution<DWORD> moment(250, 1800);
    int midPhase = 0;  // kills that found some files new and some still old
    for (int kill = 0; kill < kKills; ++kill) {
        std::wstring commandLine = L"\"" + GameFile(L"Zerandis_Patcher.exe") + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     GameDir().c_str(), &startup, &info));
        KernelHandle process(info.hProcess);
        KernelHandle thread(info.hThread);
        const DWORD wait = moment(random);
        ::Sleep(wait);
        ::TerminateProcess(process.Get(), 9);
        ::WaitForSingleObject(process.Get(), 10000);

        std::size_t installed = 0;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::wstring md5 = Md5(GameFile(kFiles[i]));
            EXPECT_TRUE(md5 == oldMd5 || md5 == entries[i].md5)
                << "kill " << kill << " after " << wait << " ms left a partial " << WideToUtf8(kFiles[i]);
            installed += md5 == entries[i].md5;
        }
        midPhase += installed > 0 && installed < entries.size();
        std::printf("kill %2d after %4lu ms: %zu of %zu files installed\n", kill, static_cast<unsigned long>(wait),
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
