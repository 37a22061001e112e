#pragma once
// Test support: a throw-away application directory, stand-in game or
// configurator processes started from copies of stand_in_game.exe, and
// copies of start_recorder.exe that note how they were started.

#include <memory>
#include <string>
#include <vector>

#include "common/handle.h"

// Exit code of a stand-in whose window closed on request.
constexpr DWORD kStandInClosedExitCode = 7;

// A fresh directory under the temp folder, deleted with its files at the end.
class TempDirectory {
public:
    explicit TempDirectory(const std::wstring& tag);
    ~TempDirectory();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// One stand-in process; terminated at destruction if it still runs.
class StandIn {
public:
    // Copies the helper to `imagePath` and starts it with `onClose`: "close",
    // "ignore" or a delay in milliseconds. Valid() tells whether its window is up.
    StandIn(const std::wstring& imagePath, const std::wstring& onClose);
    ~StandIn();
    bool Valid() const { return ready_; }
    DWORD Id() const { return id_; }
    bool Running() const;
    // Waits up to `timeoutMs` for the end; the exit code, or ~0u when still running.
    DWORD WaitExitCode(DWORD timeoutMs) const;

private:
    KernelHandle process_;
    DWORD id_ = 0;
    bool ready_ = false;
};

// Full path of a program built beside the running test (stand_in_game.exe,
// start_recorder.exe, Zerandis_PatcherUpdate.bin).
std::wstring TestHelperPath(const std::wstring& name);

// Copies that program to `target`, replacing a file already there.
bool CopyTestHelper(const std::wstring& name, const std::wstring& target);

// A copy of start_recorder.exe at `exePath`, once started, writes
// "<exePath>.started": its command line and its current directory. Waits up
// to `timeoutMs` for that record; false when none appeared.
bool WaitForStartRecord(const std::wstring& exePath, DWORD timeoutMs, std::wstring& commandLine,
                        std::wstring& currentDirectory);

// Whole-file contents for the tests; reading gives empty when unreadable.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);

// Opens an existing file with no sharing at all: nobody can move or replace
// it while the handle lives.
FileHandle HoldWithoutSharing(const std::wstring& path);

// The messages of patcher.txt (LogFilePath), without their time stamps.
std::vector<std::wstring> LogMessages();

// Milliseconds since `start` (a GetTickCount64 value).
unsigned long long ElapsedMs(unsigned long long start);
