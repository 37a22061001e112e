// zerandis-manifest on Windows against the patcher, across the tool's modules:
// what it writes (the program itself included) is what the patcher reads, its MD5
// backend agrees with the patcher's, and its parser with the patcher's line for line.
// Cases of one tool module are in tests/tools/manifest.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/handle.h"
#include "common/text.h"
#include "generate.h"
#include "manifest_text.h"
#include "net/file_md5.h"
#include "net/manifest.h"
#include "path_rules.h"
#include "update/manifest_rules.h"

namespace fs = std::filesystem;

namespace {

std::string Narrow(const std::wstring& text) { return WideToUtf8(text); }

// A client tree of its own under %TEMP%, removed afterwards.
class ClientTree : public ::testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(base_);
        const std::map<std::wstring, std::string> files = {
            {L"Zerandis.exe", "MZ game"},
            {L"patcher\\Zerandis_PatcherUpdate.bin", "MZ updater"},
            {L"Dane\\Zażółć gęślą jaźń.txt", "źdźbło"},
            {L"Dane\\ŁÓDŹ\\pusty plik.dat", ""},
            {L"Dane\\duży.bin", std::string(3 * 1024 * 1024 + 7, 'x')},
            {L"patcher.txt", "log, never listed"},
        };
        for (const auto& [relative, bytes] : files) {
            const fs::path path = root_ / relative;
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << bytes;
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    // The manifest as the patcher reads it, with every entry checked against the disk.
    void ExpectPatcherReads(const std::string& text) {
        Manifest manifest;
        std::wstring error;
        ASSERT_TRUE(ParseManifest(std::vector<char>(text.begin(), text.end()), manifest, error)) << Narrow(error);
        std::vector<std::wstring> paths;
        for (const ManifestEntry& entry : manifest) {
            EXPECT_TRUE(IsValidManifestPath(entry.path)) << Narrow(entry.path);
            std::wstring md5;
            ASSERT_TRUE(ComputeFileMd5((root_ / entry.path).wstring(), md5, error)) << Narrow(error);
            EXPECT_EQ(entry.md5, md5) << Narrow(entry.path);
            EXPECT_EQ(entry.size, fs::file_size(root_ / entry.path)) << Narrow(entry.path);
            paths.push_back(entry.path);
        }
        // Sorted by the UTF-8 bytes, "/" before any letter.
        EXPECT_EQ(paths, (std::vector<std::wstring>{L"Dane\\Zażółć gęślą jaźń.txt", L"Dane\\duży.bin",
                                                    L"Dane\\ŁÓDŹ\\pusty plik.dat", L"Zerandis.exe",
                                                    L"patcher\\Zerandis_PatcherUpdate.bin"}));
    }

    const fs::path base_ =
        fs::temp_directory_path() / (L"manifest_tool_test_" + std::to_wstring(::GetCurrentProcessId()));
    const fs::path root_ = base_ / L"Klient gry ąę";
};

TEST_F(ClientTree, BuiltManifestIsWhatThePatcherReads) {
    const GenerateResult result = BuildManifest(root_, ScanOptions{}, std::chrono::system_clock::now(), nullptr);
    ASSERT_TRUE(result.error.empty()) << result.error;
    for (const TreeProblem& problem : result.refused) ADD_FAILURE() << problem.path << ": " << problem.reason;
    EXPECT_EQ(result.fileCount, 5u);
    ExpectPatcherReads(result.text);
}

// The program itself: UTF-16 arguments with Polish letters, the file written
// through a rename, exit code 0.
TEST_F(ClientTree, ProgramWritesTheManifestFile) {
    std::wstring exe = L"Z:" + std::wstring(MANIFEST_TOOL_EXE, MANIFEST_TOOL_EXE + sizeof(MANIFEST_TOOL_EXE) - 1);
    for (wchar_t& c : exe) {
        if (c == L'/') c = L'\\';
    }
    const fs::path output = base_ / L"wynik ó.md5";
    std::wstring commandLine =
        L"\"" + exe + L"\" generate \"" + root_.wstring() + L"\" -o \"" + output.wstring() + L"\" -q";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    ASSERT_EQ(::WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    ASSERT_TRUE(::GetExitCodeProcess(process.hProcess, &exitCode));
    EXPECT_EQ(exitCode, 0u);
    std::ifstream file(output, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ExpectPatcherReads(text);
}

// What the patcher's ParseManifest says about a text, in the tool's terms.
ParsedManifest PatcherVerdict(const std::string& text) {
    Manifest manifest;
    std::wstring error;
    ParsedManifest verdict;
    if (ParseManifest(std::vector<char>(text.begin(), text.end()), manifest, error)) {
        for (const ManifestEntry& entry : manifest) {
            std::string path = Narrow(entry.path);
            for (char& c : path) {
                if (c == '\\') c = '/';
            }
            verdict.entries.push_back({path, entry.size, Narrow(entry.md5)});
        }
        return verdict;
    }
    const std::pair<const wchar_t*, ManifestFault> prefixes[] = {
        {L"Błędna linia manifestu: ", ManifestFault::Line},
        {L"Błędny rozmiar w linii manifestu: ", ManifestFault::Size},
        {L"Nieprawidłowy wpis manifestu w linii ", ManifestFault::Entry},
    };
    verdict.fault = ManifestFault::Empty;
    for (const auto& [prefix, fault] : prefixes) {
        const std::wstring head(prefix);
        if (error.compare(0, head.size(), head) == 0) {
            verdict.fault = fault;
            verdict.faultLine = std::stoul(error.substr(head.size()));
        }
    }
    return verdict;
}

TEST(ManifestParsers, AgreeWithThePatcher) {
    const std::string md5 = "0123456789abcdef0123456789ABCDEF";
    const std::vector<std::string> lines = {
        "a.txt", "Dane/Zażółć gęślą.txt", "a/b c/d ", "./a", "a//b", "a/b/", "a\\b", ".x", "a..b",
        "..", "a/../b", "...", ". .", " ..", "a/.. /b", "/a", "\\a", "C:/a", "a:b", std::string("a\0b", 3),
        "\xC3 x", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF0\x9F\x8E\xAE.pak",
    };
    std::vector<std::string> texts = {"", "# c\n\n", "\xEF\xBB\xBF" + md5 + " 1 a\r\n", "x\n" + md5 + " 1 a",
                                      " # c\n", md5 + " 1\n", md5 + " 1 \n", md5 + "\t \t7\t\tpath\twith\ttabs\r\n",
                                      "# c\n" + md5 + " 1 a\n\xEF\xBB\xBF" + md5 + " 1 a\n"};
    for (const std::string size : {"0", "007", "12abc", "+5", "-1", "abc", "-", "18446744073709551615",
                                   "18446744073709551616", "99999999999999999999"}) {
        texts.push_back("# c\n" + md5 + " " + size + " a\n");
    }
    for (const std::string& path : lines) texts.push_back("# c\r\n" + md5 + " 3 " + path + "\r\n");
    texts.push_back(md5.substr(1) + " 1 a\n");
    texts.push_back(md5 + "0 1 a\n");
    texts.push_back("g" + md5.substr(1) + " 1 a\n");

    for (const std::string& text : texts) {
        const ParsedManifest ours = ParseManifestText(text);
        const ParsedManifest patcher = PatcherVerdict(text);
        SCOPED_TRACE(Printable(text));
        EXPECT_EQ(ours.fault, patcher.fault);
        EXPECT_EQ(ours.faultLine, patcher.faultLine);
        if (ours.fault != ManifestFault::None) continue;
        ASSERT_EQ(ours.entries.size(), patcher.entries.size());
        for (size_t i = 0; i < ours.entries.size(); ++i) {
            EXPECT_EQ(ours.entries[i].path, patcher.entries[i].path);
            EXPECT_EQ(ours.entries[i].size, patcher.entries[i].size);
            EXPECT_EQ(ours.entries[i].md5, patcher.entries[i].md5);
        }
    }
}

// Every manifest of the shared table of names gets its verdict from the
// patcher's check (the run's own: parse, then names) and the tool's reading.
TEST(ManifestNames, BothProgramsGiveTheTablesVerdict) {
    std::ifstream table(std::string("Z:") + MANIFEST_NAMES_TABLE, std::ios::binary);
    std::string line;
    int manifests = 0;
    while (std::getline(table, line)) {
        if (line.empty() || line[0] == '#') continue;
        const bool refused = line.starts_with("refused\t");
        std::string text;
        for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', tab + 1)) {
            text += "d41d8cd98f00b204e9800998ecf8427e 0 " + line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1) + "\n";
        }
        Manifest manifest;
        std::wstring error;
        const bool patcher = ParseManifest(std::vector<char>(text.begin(), text.end()), manifest, error) &&
                             CheckManifestNames(manifest, L"Zerandis_Patcher.exe.new", error);
        const ParsedManifest parsed = ParseManifestText(text);
        std::string path, reason;
        const bool tool = parsed.fault == ManifestFault::None && !FindNameFault(parsed.entries, path, reason);
        EXPECT_EQ(patcher, !refused) << line << ": " << Narrow(error);
        EXPECT_EQ(tool, !refused) << line << ": " << DescribeFault(parsed) << path << " " << reason;
        ++manifests;
    }
    EXPECT_GT(manifests, 30);
}

}  // namespace
