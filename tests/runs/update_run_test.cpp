// The run from its banner to the up-to-date outcome or a failure: messages in
// order, log lines, requests the server saw, the check phase and its order.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "config/settings.h"
#include "net/file_md5.h"
#include "net_test_env.h"
#include "run_harness.h"
#include "stand_in.h"
#include "update/check_phase.h"
#include "update/run_context.h"
#include "update/run_report.h"
#include "update/update_runner.h"

namespace {

const std::wstring kStartRate =
    L"Szacowany czas do końca: obliczanie...    Twoja prędkość pobierania: oczekiwanie na dane";
const std::wstring kBanner(64, L'=');

std::vector<Posted> StartOfRun() {
    return {Number(WM_PATCHER_TOTAL_PROGRESS, 0), Number(WM_PATCHER_FILE_PROGRESS, 0), Rate(kStartRate)};
}

std::vector<Posted> FailureEnd(const std::wstring& message) {
    return {Status(L"Nie udało się zaktualizować klienta."), Detail(message),
            Counts(L"Szczegóły zapisano w patcher.txt"),
            Rate(L"Pobieranie przerwane — nie można określić czasu ani jakości połączenia."),
            Number(WM_PATCHER_DONE, 0)};
}

std::vector<Posted> Join(std::vector<Posted> a, const std::vector<Posted>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using UpdateRunTest = RunTest;

TEST_F(UpdateRunTest, UpToDateRunShowsEveryStepAndLeavesTheGameRunning) {
    const std::string pak = PatternBytes(70000);
    Publish(L"Data\\main.pak", pak);
    Publish(L"readme.txt", "hello");
    WriteManifest();
    WriteGameFile(L"Data\\main.pak", pak);
    WriteGameFile(L"readme.txt", "hello");
    WriteIni();
    PutOnSite(L"manifest.md5.sig", "a build without keys never asks for this");
    StandIn game(GameFile(L"Zerandis.exe"), L"close");
    ASSERT_TRUE(game.Valid());

    const std::vector<Posted> posted = Run();

    std::vector<Posted> expected = Join(StartOfRun(), {Status(L"Pobieranie listy plików...")});
    for (const wchar_t* path : {L"Data\\main.pak", L"readme.txt"}) {
        expected = Join(expected, {Status(L"Sprawdzanie plików..."), Detail(path),
                                   Number(WM_PATCHER_FILE_PROGRESS, 0)});
    }
    expected = Join(expected, {Status(L"Klient jest aktualny."), Detail(L"Możesz uruchomić grę."),
                               Counts(L"Wszystkie pliki mają poprawne sumy MD5."),
                               Rate(L"Pobieranie nie jest wymagane — klient jest aktualny."),
                               Number(WM_PATCHER_TOTAL_PROGRESS, 100), Number(WM_PATCHER_FILE_PROGRESS, 100),
                               Number(WM_PATCHER_DONE, 1)});
    EXPECT_EQ(posted, expected) << Describe(posted);
    EXPECT_EQ(Log(), (std::vector<std::wstring>{kBanner, L"Rozpoczęcie sprawdzania aktualizacji.",
                                                L"Klient jest aktualny."}));
    EXPECT_TRUE(game.Running()) << "nothing stale: the game is left alone";
    EXPECT_FALSE(RunActive.load());
    EXPECT_EQ(LiveWindowTextCount(), 0);

    // One manifest request with exactly one cache-busting parameter, and no signature.
    const std::vector<std::string> requests = SiteRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(std::regex_match(requests[0], std::regex(SitePath() + "manifest\\.md5\\?nocache=[0-9]+")))
        << requests[0];
}

TEST_F(UpdateRunTest, RejectedBaseUrlFailsBeforeAnyRequest) {
    Publish(L"a.txt", "a");
    WriteManifest();
    std::string url = WideToUtf8(SiteUrl());
    url.replace(0, 5, "http");  // https://... -> http://...
    WriteRawIni("[PATCHER]\r\nBASE_URL=" + url + "\r\n");

    const std::vector<Posted> posted = Run();

    EXPECT_EQ(posted, Join(StartOfRun(), FailureEnd(L"Adres serwera aktualizacji musi używać HTTPS.")))
        << Describe(posted);
    EXPECT_TRUE(SiteRequests().empty());
    ASSERT_FALSE(Log().empty());
    EXPECT_EQ(Log().back(), L"BLAD: Adres serwera aktualizacji musi używać HTTPS.");
    EXPECT_FALSE(RunActive.load());
}

TEST_F(UpdateRunTest, ManifestUrlEncodesItsPathAndJoinsTheQueryOnce) {
    WriteIni("MANIFEST=lista?v=2 x.md5\r\n");
    const std::vector<Posted> failed = Run();
    ASSERT_EQ(SiteRequests().size(), 1u);
    EXPECT_TRUE(std::regex_match(SiteRequests()[0],
                                 std::regex(SitePath() + "lista%3Fv%3D2%20x\\.md5\\?nocache=[0-9]+")))
        << SiteRequests()[0];
    // No such file: the failure names the URL exactly as requested.
    ASSERT_EQ(TextsOf(failed, WM_PATCHER_DETAIL).size(), 1u);
    EXPECT_EQ(TextsOf(failed, WM_PATCHER_DETAIL)[0].rfind(
                  L"Serwer zwrócił HTTP 404 dla " + SiteUrl() + L"lista%3Fv%3D2%20x.md5?nocache=", 0),
              0u);

    // A "?" already in BASE_URL makes the parameter join with "&".
    WriteRawIni("[PATCHER]\r\nBASE_URL=" + WideToUtf8(SiteUrl()) + "?x=1/\r\n");
    Run();
    ASSERT_EQ(SiteRequests().size(), 2u);
    EXPECT_TRUE(std::regex_match(SiteRequests()[1], std::regex(SitePath() + "\\?x=1/lista%3Fv%3D2%20x\\.md5&nocache=[0-9]+")))
        << SiteRequests()[1];
}

// A run as the window starts it, `then` called at once; waited for and joined.
void StartedRun(const std::function<void()>& then) {
    StartUpdateWorker();
    if (then) then();
    while (UpdateRunActive()) ::Sleep(10);
    StopUpdateWorker();
}

TEST_F(UpdateRunTest, ACloseInTheFirstInstantOfARunStopsIt) {
    Publish(L"a.txt", "a");
    WriteManifest();
    WriteIni();
    const std::vector<Posted> posted = Run([] { StartedRun(RequestCancel); });
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{0}) << Describe(posted);
    EXPECT_TRUE(SiteRequests().empty());
}

TEST_F(UpdateRunTest, SecondRunRereadsTheSettingsAndStartsWithTheBanner) {
    Publish(L"a.txt", "a");
    WriteManifest();
    WriteGameFile(L"a.txt", "a");
    WriteRawIni("[PATCHER]\r\nBASE_URL=\r\n");
    const std::vector<Posted> first = Run();
    EXPECT_EQ(ValuesOf(first, WM_PATCHER_DONE), std::vector<WPARAM>{0});
    EXPECT_EQ(TextsOf(first, WM_PATCHER_DETAIL), std::vector<std::wstring>{L"Adres serwera aktualizacji jest pusty."});

    WriteIni();
    CancelRequested.store(true);  // a stale flag from a closed window must not stop the next run
    const std::vector<Posted> second = Run([] { StartedRun({}); });
    EXPECT_EQ(ValuesOf(second, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(second);
    EXPECT_EQ(Log(), (std::vector<std::wstring>{kBanner, L"Rozpoczęcie sprawdzania aktualizacji.",
                                                L"BLAD: Adres serwera aktualizacji jest pusty.", kBanner,
                                                L"Rozpoczęcie sprawdzania aktualizacji.", L"Klient jest aktualny."}));
}

// The check phase alone, over files the test prepares in the game directory.
TEST_F(UpdateRunTest, StaleFilesAreFoundWithoutReportingReadErrors) {
    WriteGameFile(L"current.bin", "same bytes");
    WriteGameFile(L"changed.bin", "same size!");
    WriteGameFile(L"locked-short.bin", "short");
    WriteGameFile(L"locked-right.bin", "0123456789");
    std::filesystem::create_directories(GameFile(L"folder.bin"));
    const auto md5Of = [&](const std::wstring& name) {
        std::wstring md5, error;
        ComputeFileMd5(GameFile(name), md5, error);
        return md5;
    };
    const std::wstring current = md5Of(L"current.bin");
    // Held without sharing: the hash cannot read them.
    FileHandle lockShort(::CreateFileW(GameFile(L"locked-short.bin").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    FileHandle lockRight(::CreateFileW(GameFile(L"locked-right.bin").c_str(), GENERIC_READ, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lockShort && lockRight);

    RunContext run;
    run.manifest = {{current, 10, L"current.bin"},
                    {current, 10, L"changed.bin"},
                    {current, 10, L"locked-short.bin"},
                    {md5Of(L"current.bin"), 10, L"locked-right.bin"},
                    {current, 0, L"folder.bin"},
                    {current, 10, L"missing.bin"}};
    const std::vector<Posted> posted = Run([&] { EXPECT_EQ(CheckLocalFiles(run), StepResult::Next); });

    std::vector<std::wstring> stale;
    for (const ManifestEntry& entry : run.downloadList) stale.push_back(entry.path);
    EXPECT_EQ(stale, (std::vector<std::wstring>{L"changed.bin", L"locked-short.bin", L"locked-right.bin",
                                                L"folder.bin", L"missing.bin"}));
    // The check shows files by their paths alone, some of them (always the
    // first and the last), in manifest order, each as status, path, 0 %.
    const std::vector<std::wstring> shown = TextsOf(posted, WM_PATCHER_DETAIL);
    std::vector<Posted> expected;
    for (const std::wstring& path : shown) {
        expected.insert(expected.end(), {Status(L"Sprawdzanie plików..."), Detail(path),
                                         Number(WM_PATCHER_FILE_PROGRESS, 0)});
    }
    EXPECT_EQ(posted, expected);
    std::vector<std::wstring> paths;
    for (const ManifestEntry& entry : run.manifest) {
        if (std::ranges::find(shown, entry.path) != shown.end()) paths.push_back(entry.path);
    }
    EXPECT_EQ(shown, paths);
    EXPECT_TRUE(!shown.empty() && shown.front() == L"current.bin" && shown.back() == L"missing.bin");
    EXPECT_TRUE(Log().empty()) << "the check phase writes no log line";
}

TEST_F(UpdateRunTest, CancelDuringTheCheckEndsSilently) {
    // A large right-sized file keeps the hash busy while the cancel arrives.
    FileHandle big(::CreateFileW(GameFile(L"big.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    LARGE_INTEGER size;
    size.QuadPart = 1LL << 30;
    ASSERT_TRUE(::SetFilePointerEx(big.Get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(big.Get()));
    big.Reset();
    std::string manifest = "0123456789abcdef0123456789abcdef 1073741824 big.bin\n";
    for (int i = 0; i < 50; ++i) manifest += "0123456789abcdef0123456789abcdef 1 f" + std::to_string(i) + "\n";
    PutOnSite(L"manifest.md5", manifest);
    WriteIni();

    const std::vector<Posted> posted = Run({}, [](const Posted& p) {
        if (p.message == WM_PATCHER_DETAIL) CancelRequested.store(true);
    });

    EXPECT_EQ(TextsOf(posted, WM_PATCHER_DETAIL), std::vector<std::wstring>{L"big.bin"}) << Describe(posted);
    EXPECT_TRUE(ValuesOf(posted, WM_PATCHER_DONE).empty());
    EXPECT_EQ(Log(), (std::vector<std::wstring>{kBanner, L"Rozpoczęcie sprawdzania aktualizacji."}));
    EXPECT_FALSE(RunActive.load());
}

}  // namespace
