#pragma once
// Whole update runs in the test process. A hidden recording window stands in
// for the main window: it records every posted message in order and frees the
// texts as the real window does. Each test gets a fresh game directory (the
// patcher's AppDirectory) and a fresh site on the scripted TLS server.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/win_compat.h"
#include "net/manifest.h"

// One message as the window received it; `text` only for the text messages.
struct Posted {
    UINT message = 0;
    WPARAM value = 0;
    std::wstring text;
    bool operator==(const Posted&) const = default;
};

// How gtest prints one in a failure message.
void PrintTo(const Posted& posted, std::ostream* out);

// Short constructors for expected sequences.
Posted Status(const std::wstring& text);
Posted Detail(const std::wstring& text);
Posted Counts(const std::wstring& text);
Posted Rate(const std::wstring& text);
Posted Number(UINT message, WPARAM value);

// For failure messages: the text of each posted message, in order ("#1234=5" for numbers).
std::string Describe(const std::vector<Posted>& posted);

// While it lives, every path of 248 characters or more that the program hands
// kernel32's file calls (CreateFileW, Get/SetFileAttributes*, DeleteFileW,
// MoveFileExW, CreateDirectoryW, GetPrivateProfileStringW) is noted: the test
// executable's import table is pointed at recorders. Wine has no path limit,
// so this shows the form Windows needs at every call site.
class LongPathRecorder {
public:
    LongPathRecorder();
    ~LongPathRecorder();
    LongPathRecorder(const LongPathRecorder&) = delete;
    LongPathRecorder& operator=(const LongPathRecorder&) = delete;
    std::vector<std::wstring> Seen() const;
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The game directory and a file in it. It starts as a fresh temp folder
    // (RootDir); UseGameDirectory moves it to a folder below that one.
    const std::wstring& GameDir() const { return gameDir_; }
    const std::wstring& RootDir() const { return rootDir_; }
    void UseGameDirectory(const std::wstring& relativeToRoot);
    std::wstring GameFile(const std::wstring& relative) const;
    void WriteGameFile(const std::wstring& relative, const std::string& bytes) const;
    std::string ReadGameFile(const std::wstring& relative) const;

    // The site: BASE_URL of this test, its path on the server, its files.
    std::wstring SiteUrl() const;
    std::string SitePath() const { return "/site/" + token_ + "/"; }
    // Puts a file on the site and lists it in the manifest (in call order; a
    // path published again keeps its place).
    ManifestEntry Publish(const std::wstring& relative, const std::string& bytes);
    // Puts a file on the site without listing it.
    void PutOnSite(const std::wstring& relative, const std::string& bytes) const;
    // What the next requests of a site file do: "ok", "stale", "cut", "status 500"...
    void Plan(const std::wstring& relative, const std::vector<std::string>& actions) const;
    // Writes manifest.md5 from the published entries.
    void WriteManifest() const;
    // Requests the server saw for this site (paths with queries).
    std::vector<std::string> SiteRequests() const;

    // patcher.ini in the game directory: BASE_URL of the site plus `extraLines`.
    void WriteIni(const std::string& extraLines = "") const;
    void WriteRawIni(const std::string& content) const;

    // Runs `body` (a whole UpdateWorker by default) on a worker thread and
    // records what it posts until it ends. `onPosted` sees each message as
    // it arrives, on the test thread.
    std::vector<Posted> Run(const std::function<void()>& body = {},
                            const std::function<void(const Posted&)>& onPosted = {});

    // patcher.txt's messages without time stamps.
    std::vector<std::wstring> Log() const;

private:
    std::wstring rootDir_;
    std::wstring gameDir_;
    std::string token_;
    std::wstring siteDir_;
    std::vector<ManifestEntry> published_;
    HWND recorder_ = nullptr;
};

// The texts of every posted `message`, in order.
std::vector<std::wstring> TextsOf(const std::vector<Posted>& posted, UINT message);
// The values of every posted numeric `message`, in order.
std::vector<WPARAM> ValuesOf(const std::vector<Posted>& posted, UINT message);
// Index of the first message equal to `wanted` at or after `from`; -1 when none.
int IndexOf(const std::vector<Posted>& posted, const Posted& wanted, int from = 0);
