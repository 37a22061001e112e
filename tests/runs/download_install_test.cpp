// Stale files downloaded with up to three attempts, verified, installed and
// summed up: messages, log lines, requests and the files left on disk.
#include <gtest/gtest.h>

#include <regex>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "net_test_env.h"
#include "run_harness.h"
#include "stand_in.h"
#include "update/run_report.h"

namespace {

const std::wstring kRetryCounts = L"Serwer zwrócił nieaktualną lub uszkodzoną wersję pliku. Ponawianie...";

std::vector<std::wstring> LinesStartingWith(const std::vector<std::wstring>& log, const std::wstring& prefix) {
    std::vector<std::wstring> found;
    for (const std::wstring& line : log) {
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
}

// The value of the "attempt" parameter of a recorded file request.
std::string AttemptOf(const std::string& request) {
    return request.substr(request.find("&attempt=") + 9);
}

using DownloadTest = RunTest;

TEST_F(DownloadTest, StaleCopiesAreRetriedUntilTheRightOneArrives) {
    const std::string content = PatternBytes(5000);
    const ManifestEntry entry = Publish(L"Dane Gry\\zażółć.pak", content);
    WriteManifest();
    WriteIni();
    Plan(L"Dane Gry\\zażółć.pak", {"stale", "stale", "ok"});
    std::string stale = content;
    stale[0] = static_cast<char>(stale[0] ^ 0xFF);
    PutOnSite(L"stale.tmp", stale);
    const std::wstring staleMd5 = Publish(L"stale.tmp", stale).md5;  // only for its digest; not in the manifest

    const ULONGLONG start = ::GetTickCount64();
    const std::vector<Posted> posted = Run();
    const ULONGLONG elapsed = ::GetTickCount64() - start;

    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    EXPECT_EQ(ReadGameFile(L"Dane Gry\\zażółć.pak"), content);
    EXPECT_FALSE(FileExists(GameFile(L"Dane Gry\\zażółć.pak.download")));
    EXPECT_GE(elapsed, 1400u) << "two 700 ms pauses";

    const std::vector<std::wstring> log = Log();
    const std::vector<std::wstring> mismatches = LinesStartingWith(log, L"Niezgodność pobranego pliku ");
    ASSERT_EQ(mismatches.size(), 2u);
    EXPECT_EQ(mismatches[1], L"Niezgodność pobranego pliku Dane Gry\\zażółć.pak. Oczekiwany MD5=" + entry.md5 +
                                 L", pobrany MD5=" + staleMd5 +
                                 L", oczekiwany rozmiar=5000, pobrany rozmiar=5000, próba=2/3.");
    const std::vector<std::wstring> verified = LinesStartingWith(log, L"Pobrano i zweryfikowano: ");
    ASSERT_EQ(verified.size(), 1u);
    EXPECT_TRUE(std::regex_match(WideToUtf8(verified[0]),
                                 std::regex("Pobrano i zweryfikowano: Dane Gry\\\\zażółć\\.pak \\| rozmiar: 4\\.9 KB "
                                            "\\| czas: [0-9.]+ s \\| średnia prędkość: [0-9.]+ [KMG]?B/s "
                                            "\\| próba: 3/3")))
        << WideToUtf8(verified[0]);

    std::vector<std::wstring> counts;
    for (const std::wstring& text : TextsOf(posted, WM_PATCHER_COUNTS)) {
        if (text == kRetryCounts) counts.push_back(text);
    }
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_GE(IndexOf(posted, Status(L"Ponowne pobieranie pliku (3/3)..."),
                      IndexOf(posted, Status(L"Ponowne pobieranie pliku (2/3)..."))),
              0);

    // Each attempt asks for the path encoded as UTF-8, with the digest and a fresh attempt value.
    std::vector<std::string> files;
    for (const std::string& request : SiteRequests()) {
        if (request.find("manifest.md5") == std::string::npos) files.push_back(request);
    }
    ASSERT_EQ(files.size(), 3u);
    const std::regex shape(SitePath() + "Dane%20Gry/za%C5%BC%C3%B3%C5%82%C4%87\\.pak\\?md5=" +
                           WideToUtf8(entry.md5) + "&attempt=([123])-[0-9]+");
    for (int i = 0; i < 3; ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(files[i], match, shape)) << files[i];
        EXPECT_EQ(match[1].str(), std::to_string(i + 1));
    }
    EXPECT_NE(AttemptOf(files[0]), AttemptOf(files[1]));
}

TEST_F(DownloadTest, ThreeFailedTransfersEndTheRunAndKeepTheOldFile) {
    const ManifestEntry entry = Publish(L"a.pak", "new content");
    WriteManifest();
    WriteIni();
    WriteGameFile(L"a.pak", "old content");
    Plan(L"a.pak", {"status 500", "status 500", "status 500"});

    const ULONGLONG start = ::GetTickCount64();
    const std::vector<Posted> posted = Run();
    const ULONGLONG elapsed = ::GetTickCount64() - start;

    const std::wstring failure = L"Pobrany plik nadal ma nieprawidłową sumę MD5: a.pak. Oczekiwano " + entry.md5 +
                                 L", pobrano <brak>. Sprawdź, czy manifest został wygenerowany po skopiowaniu "
                                 L"ostatecznej wersji pliku.";
    EXPECT_EQ(TextsOf(posted, WM_PATCHER_DETAIL).back(), failure);
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{0});
    EXPECT_EQ(ReadGameFile(L"a.pak"), "old content");
    EXPECT_FALSE(FileExists(GameFile(L"a.pak.download")));
    EXPECT_GE(elapsed, 1000u) << "two 500 ms pauses";
    EXPECT_LT(elapsed, 1450u + 1000u) << "no pause after the third attempt";

    const std::vector<std::wstring> log = Log();
    const std::vector<std::wstring> failed = LinesStartingWith(log, L"Próba pobrania ");
    ASSERT_EQ(failed.size(), 3u);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(failed[n - 1].rfind(L"Próba pobrania " + std::to_wstring(n) +
                                          L"/3 nie powiodła się dla a.pak: Serwer zwrócił HTTP 500 dla " + SiteUrl() +
                                          L"a.pak?md5=" + entry.md5 + L"&attempt=" + std::to_wstring(n) + L"-",
                                      0),
                  0u)
            << WideToUtf8(failed[n - 1]);
    }
    EXPECT_EQ(log.back(), L"BLAD: " + failure);
}

TEST_F(DownloadTest, InstallsFillTheOverallBarByBytesAndEndWithTheSummary) {
    Publish(L"first.bin", std::string(300, 'a'));
    Publish(L"new\\dir\\second.bin", std::string(700, 'b'));
    WriteManifest();
    WriteIni();

    const std::vector<Posted> posted = Run();

    EXPECT_EQ(ReadGameFile(L"new\\dir\\second.bin"), std::string(700, 'b'));
    // After each verified file: the file bar full, then the overall bar from the installed bytes.
    const int secondFile =
        IndexOf(posted, Detail(L"new\\dir\\second.bin"), IndexOf(posted, Status(L"Pobieranie aktualizacji...")));
    const int summary = IndexOf(posted, Status(L"Aktualizacja zakończona."));
    ASSERT_GT(secondFile, 0) << Describe(posted);
    const auto lastNumbers = [&](int end) {
        std::vector<Posted> numbers;
        for (int i = 0; i < end; ++i) {
            if (posted[i].text.empty() && posted[i].message != WM_PATCHER_DONE) numbers.push_back(posted[i]);
        }
        return std::vector<Posted>(numbers.end() - 2, numbers.end());
    };
    EXPECT_EQ(lastNumbers(secondFile),
              (std::vector<Posted>{Number(WM_PATCHER_FILE_PROGRESS, 100), Number(WM_PATCHER_TOTAL_PROGRESS, 30)}));
    EXPECT_EQ(lastNumbers(summary),
              (std::vector<Posted>{Number(WM_PATCHER_FILE_PROGRESS, 100), Number(WM_PATCHER_TOTAL_PROGRESS, 100)}));

    const std::vector<Posted> tail(posted.end() - 7, posted.end());
    ASSERT_EQ(tail.size(), 7u);
    EXPECT_EQ(tail[0], Status(L"Aktualizacja zakończona."));
    EXPECT_EQ(tail[1], Detail(L"Możesz uruchomić grę."));
    EXPECT_EQ(tail[2], Counts(L"Pobrano 1000 B."));
    EXPECT_TRUE(std::regex_match(WideToUtf8(tail[3].text),
                                 std::regex("Pobieranie zakończone    Średnia prędkość: [0-9.]+ [KMG]?B/s    "
                                            "Ocena pobierania: (bardzo słaba|słaba|przeciętna|dobra|bardzo dobra|"
                                            "doskonała)")))
        << WideToUtf8(tail[3].text);
    EXPECT_EQ(std::vector<Posted>(tail.begin() + 4, tail.end()),
              (std::vector<Posted>{Number(WM_PATCHER_TOTAL_PROGRESS, 100), Number(WM_PATCHER_FILE_PROGRESS, 100),
                                   Number(WM_PATCHER_DONE, 1)}));

    const std::vector<std::wstring> log = Log();
    EXPECT_EQ(LinesStartingWith(log, L"Podmieniono plik lokalny: "),
              (std::vector<std::wstring>{L"Podmieniono plik lokalny: first.bin",
                                         L"Podmieniono plik lokalny: new\\dir\\second.bin"}));
    EXPECT_TRUE(std::regex_match(WideToUtf8(log.back()),
                                 std::regex("Aktualizacja zakończona pomyślnie\\. Pobrano: 1000 B \\| łączny czas "
                                            "pobierania: [0-9.]+ s \\| średnia prędkość: [0-9.]+ [KMG]?B/s \\| "
                                            "ocena pobierania: .+")))
        << WideToUtf8(log.back());
}

TEST_F(DownloadTest, EmptyFilesAreVerifiedAndShowAFullBar) {
    Publish(L"empty1.dat", "");
    Publish(L"empty2.dat", "");
    WriteManifest();
    WriteIni();

    const std::vector<Posted> posted = Run();

    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    EXPECT_TRUE(FileExists(GameFile(L"empty2.dat")));
    // The phase starts at 0; every installation of an empty file sets 100.
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_TOTAL_PROGRESS), (std::vector<WPARAM>{0, 0, 100, 100, 100}));
    EXPECT_EQ(TextsOf(posted, WM_PATCHER_COUNTS).back(), L"Pobrano 0 B.");
}

TEST_F(DownloadTest, ConfiguratorStepComesBeforeTheGameStep) {
    Publish(L"config.ini", "[video]\r\n");
    WriteManifest();
    WriteIni();

    const std::vector<Posted> posted = Run();

    const int configurator = IndexOf(posted, Status(L"Przygotowanie aktualizacji konfiguratora..."));
    const int game = IndexOf(posted, Status(L"Przygotowanie do aktualizacji..."));
    const int download = IndexOf(posted, Status(L"Pobieranie aktualizacji..."));
    ASSERT_GE(configurator, 0) << Describe(posted);
    EXPECT_EQ(posted[configurator + 1], Detail(L"Sprawdzanie procesu config.exe."));
    EXPECT_EQ(posted[configurator + 2],
              Counts(L"Uruchomiony konfigurator zostanie zamknięty przed podmianą config.exe lub config.ini."));
    EXPECT_EQ(game, configurator + 3);
    EXPECT_EQ(posted[game + 1], Detail(L"Sprawdzanie, czy gra jest uruchomiona."));
    EXPECT_EQ(posted[game + 2], Counts(L"Uruchomiona gra zostanie zamknięta przed aktualizacją."));
    EXPECT_GT(download, game);
    // And once more before the configurator file is replaced.
    EXPECT_GT(IndexOf(posted, Status(L"Kończenie konfiguratora przed podmianą..."), download), download);
    EXPECT_EQ(ReadGameFile(L"config.ini"), "[video]\r\n");
}

TEST_F(DownloadTest, UpdaterFirstThenFilesThenThePatcherHandedOver) {
    const std::string recorder = ReadFileBytes(TestHelperPath(L"start_recorder.exe"));
    ASSERT_FALSE(recorder.empty());
    Publish(L"Zerandis_Patcher.exe", "new patcher");
    Publish(L"data.pak", "data");
    Publish(L"patcher/Zerandis_PatcherUpdate.bin", recorder);
    WriteManifest();
    WriteIni();
    WriteGameFile(L"Zerandis_Patcher.exe", "old patcher");

    const std::vector<Posted> posted = Run();

    // The download phase names its files in install order.
    const int phase = IndexOf(posted, Status(L"Pobieranie aktualizacji..."));
    ASSERT_GE(phase, 0) << Describe(posted);
    std::vector<std::wstring> order;
    for (int i = phase; i < static_cast<int>(posted.size()); ++i) {
        if (posted[i].message == WM_PATCHER_DETAIL) order.push_back(posted[i].text);
    }
    EXPECT_EQ(order, (std::vector<std::wstring>{L"patcher\\Zerandis_PatcherUpdate.bin", L"data.pak",
                                                L"Zerandis_Patcher.exe"}));
    EXPECT_EQ(posted[posted.size() - 2], Status(L"Aktualizacja patchera..."));
    EXPECT_EQ(posted.back(), Number(WM_PATCHER_EXIT, 0));
    EXPECT_TRUE(ValuesOf(posted, WM_PATCHER_DONE).empty());
    EXPECT_FALSE(RunActive.load());

    // The new patcher waits beside the running one; the running one is untouched.
    EXPECT_EQ(ReadGameFile(L"Zerandis_Patcher.exe"), "old patcher");
    EXPECT_EQ(ReadGameFile(L"Zerandis_Patcher.exe.new"), "new patcher");
    EXPECT_EQ(Log().back(), L"Przekazano samoaktualizację do pomocnika.");
    EXPECT_TRUE(LinesStartingWith(Log(), L"Aktualizacja zakończona").empty());

    // The freshly installed updater was started with the handoff's command line.
    std::wstring commandLine, directory;
    ASSERT_TRUE(WaitForStartRecord(GameFile(L"patcher\\Zerandis_PatcherUpdate.bin"), 20000, commandLine, directory));
    EXPECT_EQ(commandLine, L"\"" + GameFile(L"patcher\\Zerandis_PatcherUpdate.bin") + L"\" --pid " +
                               std::to_wstring(::GetCurrentProcessId()) + L" --current \"" +
                               GameFile(L"Zerandis_Patcher.exe") + L"\" --new \"" +
                               GameFile(L"Zerandis_Patcher.exe.new") + L"\"");
}

TEST_F(DownloadTest, MissingUpdaterFailsAndKeepsTheNewPatcher) {
    Publish(L"Zerandis_Patcher.exe", "new patcher");
    WriteManifest();
    WriteIni();

    const std::vector<Posted> posted = Run();

    const std::wstring failure =
        L"Brakuje pomocnika samoaktualizacji: " + GameFile(L"patcher\\Zerandis_PatcherUpdate.bin");
    EXPECT_EQ(TextsOf(posted, WM_PATCHER_DETAIL).back(), failure);
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{0});
    EXPECT_EQ(ReadGameFile(L"Zerandis_Patcher.exe.new"), "new patcher");
    EXPECT_EQ(Log().back(), L"BLAD: " + failure);
}

}  // namespace
