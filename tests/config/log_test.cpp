#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/text.h"
#include "config/log.h"

namespace {

const std::string Bom = "\xEF\xBB\xBF";
const std::regex StampedLine(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] (.*)$)");

std::string ReadBytes(const std::wstring& path) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return {};
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) bytes.append(chunk, read);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Splits on CR LF; a final piece without CR LF fails the test.
std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line: " << bytes.substr(start);
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The message part of one stamped line; fails the test when the stamp is malformed.
std::string MessageOf(const std::string& line) {
    std::smatch match;
    if (!std::regex_match(line, match, StampedLine)) {
        ADD_FAILURE() << "not a log line: " << line;
        return {};
    }
    return match[1];
}

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
        directory_ = std::wstring(temp, length) + L"log_test_" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(directory_.c_str(), nullptr);
        SetAppPaths(directory_ + L"\\Zerandis_Patcher.exe");
        ::DeleteFileW(LogFilePath().c_str());
    }
    void TearDown() override {
        ::DeleteFileW(LogFilePath().c_str());
        ::RemoveDirectoryW(directory_.c_str());
    }

    // The log's lines after a BOM check; `bom` says whether one must lead.
    std::vector<std::string> Lines(bool bom, const std::string& before = {}) {
        std::string bytes = ReadBytes(LogFilePath());
        const std::string lead = (bom ? Bom : std::string()) + before;
        EXPECT_EQ(bytes.substr(0, lead.size()), lead);
        return SplitLines(bytes.substr(lead.size()));
    }

    std::wstring directory_;
};

TEST_F(Log, FirstLineOfANewFile) {
    SYSTEMTIME before;
    ::GetLocalTime(&before);
    WriteLog(L"Rozpoczęcie sprawdzania aktualizacji.");
    SYSTEMTIME after;
    ::GetLocalTime(&after);

    const std::string bytes = ReadBytes(LogFilePath());
    const std::string tail = " Rozpocz\xC4\x99" "cie sprawdzania aktualizacji.\r\n";
    ASSERT_EQ(bytes.size(), Bom.size() + 21 + tail.size());
    EXPECT_EQ(bytes.substr(0, 3), Bom);
    EXPECT_EQ(bytes.substr(3 + 21), tail);
    const std::string stamp = bytes.substr(3, 22);
    EXPECT_TRUE(stamp == WideToUtf8(FormatLogTimestamp(before)) || stamp == WideToUtf8(FormatLogTimestamp(after)))
        << stamp;
}

TEST_F(Log, TimestampForm) {
    SYSTEMTIME time{};
    time.wYear = 2026;
    time.wMonth = 3;
    time.wDay = 5;
    time.wHour = 9;
    time.wMinute = 7;
    time.wSecond = 3;
    time.wMilliseconds = 999;
    EXPECT_EQ(FormatLogTimestamp(time), L"[2026-03-05 09:07:03] ");
}

TEST_F(Log, ExistingContentDecidesBomAndLineBreak) {
    WriteBytes(LogFilePath(), "");
    WriteLog(L"pusty");
    EXPECT_EQ(Lines(true).size(), 1u);

    WriteBytes(LogFilePath(), "cudzy tekst");
    WriteLog(L"po literze");
    std::vector<std::string> lines = Lines(false, "cudzy tekst\r\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "po literze");

    WriteBytes(LogFilePath(), "bez BOM\r\n");
    WriteLog(L"dalej");
    lines = Lines(false, "bez BOM\r\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "dalej");

    // A bare LF already ends a line: nothing is inserted.
    WriteBytes(LogFilePath(), "unix\n");
    WriteLog(L"po LF");
    lines = Lines(false, "unix\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "po LF");
}

TEST_F(Log, LineBreaksAndTrailingBlanksAreCleaned) {
    WriteLog(L"jeden\r\ndwa");
    WriteLog(L"jeden \r\n dwa");
    WriteLog(L"\r\npoczątek");
    WriteLog(L"koniec \t");
    WriteLog(L"a\n\n\r\rb\r\n");
    WriteLog(L"\ta\r\n\tb");
    WriteLog(L"");
    WriteLog(L"\r\n \t");
    const std::vector<std::string> lines = Lines(true);
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(MessageOf(lines[0]), "jeden dwa");
    EXPECT_EQ(MessageOf(lines[1]), "jeden  dwa");
    EXPECT_EQ(MessageOf(lines[2]), "pocz\xC4\x85tek");
    EXPECT_EQ(MessageOf(lines[3]), "koniec");
    EXPECT_EQ(MessageOf(lines[4]), "a b");
    EXPECT_EQ(MessageOf(lines[5]), "\ta \tb");
    // An empty message still gives a line, ending in "] ".
    EXPECT_EQ(lines[6].size(), 22u);
    EXPECT_EQ(lines[6].substr(20), "] ");
    EXPECT_EQ(lines[7].substr(20), "] ");
}

TEST_F(Log, OtherHandlesWithSharingDoNotStopTheLog) {
    WriteLog(L"pierwsza");
    FileHandle reader(::CreateFileW(LogFilePath().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader.Valid());
    WriteLog(L"druga");
    reader.Reset();
    EXPECT_EQ(Lines(true).size(), 2u);
}

TEST_F(Log, LockedFileLosesTheLineQuietly) {
    WriteLog(L"pierwsza");
    const std::string before = ReadBytes(LogFilePath());
    {
        FileHandle locker(::CreateFileW(LogFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(locker.Valid());
        WriteLog(L"zgubiona");
        EXPECT_EQ(ReadBytes(LogFilePath()), before);
    }
    WriteLog(L"trzecia");
    const std::vector<std::string> lines = Lines(true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(MessageOf(lines[1]), "trzecia");
}

TEST_F(Log, ThreadsWriteWholeLinesOnly) {
    constexpr int threadCount = 4;
    constexpr int linesPerThread = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < linesPerThread; ++i) {
                WriteLog(L"wątek " + std::to_wstring(t) + L" wiersz " + std::to_wstring(i) +
                         L" ........................................");
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::vector<std::string> lines = Lines(true);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threadCount * linesPerThread));
    const std::regex body(R"(^w\xC4\x85tek (\d) wiersz (\d+) \.{40}$)");
    std::set<std::pair<int, int>> seen;
    std::vector<int> next(threadCount, 0);
    for (const std::string& line : lines) {
        const std::string message = MessageOf(line);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(message, match, body)) << line;
        const int thread = std::stoi(match[1]);
        const int index = std::stoi(match[2]);
        // Each thread's lines arrive in its own order.
        EXPECT_EQ(index, next[thread]++);
        seen.insert({thread, index});
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(threadCount * linesPerThread));
}

}  // namespace
