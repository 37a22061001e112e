// What a run does when the server, the network or the disk misbehaves: the
// failure texts shown, the log, and that no client file is damaged or left
// half-written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "net_test_env.h"
#include "run_harness.h"
#include "stand_in.h"
#include "net/transfer.h"
#include "update/run_report.h"
#include "update/staging.h"

namespace {

const std::wstring kFailedStatus = L"Nie udało się zaktualizować klienta.";

class FaultTest : public RunTest {
protected:
    // Runs and checks the failure ending: its status, DONE 0, the BLAD line
    // last in the log. Returns the detail shown.
    std::wstring RunExpectingFailure() {
        const std::vector<Posted> posted = Run();
        EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{0}) << Describe(posted);
        EXPECT_EQ(TextsOf(posted, WM_PATCHER_STATUS).back(), kFailedStatus);
        const std::vector<std::wstring> details = TextsOf(posted, WM_PATCHER_DETAIL);
        const std::vector<std::wstring> log = Log();
        if (details.empty() || log.empty()) {
            ADD_FAILURE() << "no failure detail or log";
            return {};
        }
        EXPECT_EQ(log.back(), L"BLAD: " + details.back());
        return details.back();
    }

    // A client of one file whose local copy is old; the server's copy is `served` per `plan`.
    ManifestEntry OneStaleFile(const std::vector<std::string>& plan) {
        const ManifestEntry entry = Publish(L"Data\\mapa.pak", PatternBytes(40000));
        WriteManifest();
        WriteIni();
        WriteGameFile(L"Data\\mapa.pak", "stara wersja");
        if (!plan.empty()) Plan(L"Data\\mapa.pak", plan);
        return entry;
    }

    // The log lines of the last run, after its banner.
    std::vector<std::wstring> LastRunLog() const {
        const std::vector<std::wstring> log = Log();
        size_t banner = 0;
        for (size_t i = 0; i < log.size(); ++i) {
            if (log[i] == std::wstring(64, L'=')) banner = i;
        }
        return std::vector<std::wstring>(log.begin() + static_cast<long>(banner) + 1, log.end());
    }

    void ExpectOldFileKept() const {
        EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), "stara wersja");
        EXPECT_FALSE(FileExists(GameFile(L"Data\\mapa.pak.download")));
    }
};

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.rfind(prefix, 0) == 0; }

TEST_F(FaultTest, ManifestFailuresNameTheirCause) {
    WriteIni();
    EXPECT_TRUE(StartsWith(RunExpectingFailure(), L"Serwer zwrócił HTTP 404 dla " + SiteUrl() + L"manifest.md5?nocache="));

    Publish(L"a.txt", "a");
    WriteManifest();
    Plan(L"manifest.md5", {"status 500"});
    EXPECT_TRUE(StartsWith(RunExpectingFailure(), L"Serwer zwrócił HTTP 500 dla "));

    Plan(L"manifest.md5", std::vector<std::string>(60, "loop"));
    EXPECT_TRUE(StartsWith(RunExpectingFailure(), L"Błąd pobierania: "));  // too many redirects (12156 on Wine)
    Plan(L"manifest.md5", {});

    PutOnSite(L"manifest.md5", std::string(16777217, '#'));
    EXPECT_EQ(RunExpectingFailure(), L"Manifest jest zbyt duży.");

    PutOnSite(L"manifest.md5", "# nothing here\n");
    EXPECT_EQ(RunExpectingFailure(), L"Manifest nie zawiera żadnych plików.");
}

TEST_F(FaultTest, CancelDuringADrippingManifestEndsWithTheCancelText) {
    Publish(L"a.txt", "a");
    WriteManifest();
    Plan(L"manifest.md5", {"slow 2 500"});  // about 10 s for the whole manifest
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([&] {
        while (SiteRequests().empty()) ::Sleep(10);
        ::Sleep(300);
        cancelled = std::chrono::steady_clock::now();
        CancelRequested.store(true);
    });
    WriteIni();
    EXPECT_EQ(RunExpectingFailure(), L"Operacja anulowana.");
    const auto ended = std::chrono::steady_clock::now();
    canceller.join();
    // Seen between reads, not only before the next request: the drip had seconds to go.
    EXPECT_LT(ended - cancelled, std::chrono::seconds(3));
    EXPECT_EQ(SiteRequests().size(), 1u);  // neither the signature nor a file after it
}

TEST_F(FaultTest, InsecureServersAreRefused) {
    Publish(L"a.txt", "a");
    WriteManifest();
    for (const char* port : {"LEGACY_PORT", "UNTRUSTED_PORT"}) {
        WriteRawIni("[PATCHER]\r\nBASE_URL=" + WideToUtf8(ServerBase(port)) + SitePath() + "\r\n");
        EXPECT_TRUE(StartsWith(RunExpectingFailure(), L"Błąd pobierania: ")) << port;
    }
    EXPECT_TRUE(SiteRequests().empty()) << "no request got through the handshake";
}

TEST_F(FaultTest, BadBodiesAreRetriedThenRefusedWithoutTouchingTheFile) {
    const std::vector<std::vector<std::string>> plans = {
        {"big", "big", "big"},        // ten times the declared size
        {"cut", "cut", "cut"},        // the connection dropped halfway
        {"stale", "stale", "stale"},  // the right size, the wrong content
        {"status 404", "status 500", "status 503"},
    };
    for (const std::vector<std::string>& plan : plans) {
        const ManifestEntry entry = OneStaleFile(plan);
        const std::wstring detail = RunExpectingFailure();
        EXPECT_TRUE(StartsWith(detail, L"Pobrany plik nadal ma nieprawidłową sumę MD5: Data\\mapa.pak. Oczekiwano " +
                                           entry.md5 + L", pobrano "))
            << plan[0] << ": " << WideToUtf8(detail);
        ExpectOldFileKept();
        // Three attempts, each with its own line.
        int attempts = 0;
        for (const std::wstring& line : LastRunLog()) {
            attempts += StartsWith(line, L"Niezgodność pobranego pliku ") || StartsWith(line, L"Próba pobrania ");
        }
        EXPECT_EQ(attempts, 3) << plan[0];
        for (size_t n = 1; plan[0] == "big" && n <= 3; ++n) {  // stopped at the declared size
            EXPECT_TRUE(LastRunLog()[n].ends_with(L": Serwer wysłał więcej danych, niż podaje lista plików."));
        }
    }
}

TEST_F(FaultTest, FileChangedOnTheServerAfterTheManifestIsNeverInstalled) {
    OneStaleFile({});
    PutOnSite(L"Data\\mapa.pak", PatternBytes(40001));  // replaced after the manifest was made
    EXPECT_TRUE(StartsWith(RunExpectingFailure(), L"Pobrany plik nadal ma nieprawidłową sumę MD5: "));
    ExpectOldFileKept();
}

TEST_F(FaultTest, LockedTargetKeepsItsBytesAndTheStagingFileGoes) {
    OneStaleFile({});
    const FileHandle held = HoldWithoutSharing(GameFile(L"Data\\mapa.pak"));
    ASSERT_TRUE(held);
    const std::wstring detail = RunExpectingFailure();
    EXPECT_TRUE(StartsWith(detail, L"Nie można podmienić " + GameFile(L"Data\\mapa.pak") + L": ")) << WideToUtf8(detail);
    EXPECT_FALSE(FileExists(GameFile(L"Data\\mapa.pak.download")));
    const_cast<FileHandle&>(held).Reset();
    EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), "stara wersja");
}

TEST_F(FaultTest, ReadOnlyFilesPolishNamesAndDeepPathsAreRepaired) {
    // The game directory itself has Polish letters and blanks.
    UseGameDirectory(L"Gry\\Zażółć gęślą jaźń");
    // A file whose staging path ends a few characters short of MAX_PATH.
    const size_t room = 250 - GameFile(L"Dane\\x\\y\\plik.pak.download").size();
    const std::wstring deep =
        L"Dane\\" + std::wstring(room / 2 + 1, L'ą') + L"\\" + std::wstring(room - room / 2 + 1, L'b') + L"\\plik.pak";
    Publish(L"Łódź i Świnoujście.txt", "nowa");
    Publish(deep, PatternBytes(1000));
    // Past the classic limit (the long game folder below shows the form).
    const std::wstring longer = L"Dane\\" + std::wstring(120, L'c') + L"\\" +
                                std::wstring(300 - GameFile(L"Dane\\").size() - 125, L'd') + L".pak";
    ASSERT_EQ(GameFile(longer).size(), 300u);
    Publish(longer, PatternBytes(2000));
    WriteManifest();
    WriteIni();
    WriteGameFile(L"Łódź i Świnoujście.txt", "stara");
    ::SetFileAttributesW(GameFile(L"Łódź i Świnoujście.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(GameFile(deep).size() + 9, 250u);

    const std::vector<Posted> posted = Run();
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    EXPECT_EQ(ReadGameFile(longer), PatternBytes(2000));
    EXPECT_EQ(ReadGameFile(L"Łódź i Świnoujście.txt"), "nowa");
    EXPECT_EQ(::GetFileAttributesW(GameFile(L"Łódź i Świnoujście.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(ReadGameFile(deep), PatternBytes(1000));
    EXPECT_TRUE(FileExists(GameFile(L"patcher.txt")));

    // A second run right after finds everything current and only asks for the manifest.
    const size_t before = SiteRequests().size();
    EXPECT_EQ(ValuesOf(Run(), WM_PATCHER_DONE), std::vector<WPARAM>{1});
    ASSERT_EQ(SiteRequests().size(), before + 1);
    EXPECT_EQ(SiteRequests().back().rfind(SitePath() + "manifest.md5?nocache=", 0), 0u);
}

TEST_F(FaultTest, EveryFileCallInALongGameFolderGetsTheLongForm) {
    UseGameDirectory(std::wstring(250 - RootDir().size() - 1, L'g'));
    Publish(L"Data\\mapa.pak", PatternBytes(1000));
    WriteManifest();
    WriteIni();
    WriteGameFile(L"Data\\mapa.pak", "stara");
    std::vector<std::wstring> seen;
    {
        const LongPathRecorder recorder;
        const std::vector<Posted> posted = Run();
        EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
        seen = recorder.Seen();
    }
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const std::wstring& path) { return !StartsWith(path, L"\\\\?\\"); }), 0);
    for (const wchar_t* name : {L"patcher.ini", L"patcher.txt", L"Data", L"Data\\mapa.pak", L"Data\\mapa.pak.download"}) {
        EXPECT_NE(std::find(seen.begin(), seen.end(), L"\\\\?\\" + GameFile(name)), seen.end()) << WideToUtf8(name);
    }
    EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), PatternBytes(1000));
}

// Every file below `dir`, with its size, as one comparable set.
std::set<std::pair<std::wstring, std::uintmax_t>> Snapshot(const std::wstring& dir) {
    std::set<std::pair<std::wstring, std::uintmax_t>> files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
        files.insert({item.path().wstring(), item.is_regular_file() ? item.file_size() : 0});
    }
    return files;
}

TEST_F(FaultTest, PathsLeavingTheGameDirectoryAreRefused) {
    UseGameDirectory(L"gra");
    WriteGameFile(L"keep.txt", "x");
    WriteIni();
    const std::vector<std::string> paths = {
        "..\\ucieczka.txt", "a/../../ucieczka.txt", "/ucieczka.txt", "\\ucieczka.txt", "C:/ucieczka.txt",
        "C:ucieczka.txt", "\\\\serwer\\udzial\\x.txt", "\\\\?\\C:\\x.txt", "plik.txt:strumien",
        "a/.. /ucieczka.txt", "a/. ./ucieczka.txt", "a/.../ucieczka.txt", "..",
    };
    const auto before = Snapshot(RootDir());
    for (const std::string& path : paths) {
        PutOnSite(L"manifest.md5", "# ok first\nd41d8cd98f00b204e9800998ecf8427e 0 dobry.txt\n"
                                   "d41d8cd98f00b204e9800998ecf8427e 0 " + path + "\n");
        const std::wstring detail = RunExpectingFailure();
        EXPECT_EQ(detail, L"Nieprawidłowy wpis manifestu w linii 3") << path;
    }
    auto after = Snapshot(RootDir());
    after.erase({GameFile(L"patcher.txt"), std::filesystem::file_size(GameFile(L"patcher.txt"))});
    EXPECT_EQ(after, before);
}

TEST_F(FaultTest, ManifestsNamingAFileTwiceAStagingFileTheLogOrTheReleaseFileAreRefusedBeforeAnyFile) {
    // The running patcher's ".new" file is the staging name, whatever PATCHER_EXE says.
    WriteIni("PATCHER_EXE=bin\\Inny.exe\n");
    WriteGameFile(L"a.pak", "stara");
    const std::vector<std::pair<std::string, std::wstring>> cases = {
        {"A.pak", L"Lista plików wymienia ten sam plik więcej niż raz: A.pak"},
        {".\\a.pak", L"Lista plików wymienia ten sam plik więcej niż raz: .\\a.pak"},
        {".\\patcher.txt", L"Lista plików nie może zastępować dziennika patcher.txt."},
        {"a.pak.", L"Lista plików wymienia ten sam plik więcej niż raz: a.pak."},
        {"a.pak.download", L"Lista plików zawiera nazwę pliku tymczasowego: a.pak.download"},
        {"Zerandis_Patcher.exe.new", L"Lista plików zawiera nazwę pliku tymczasowego: Zerandis_Patcher.exe.new"},
        {"patcher.txt", L"Lista plików nie może zastępować dziennika patcher.txt."},
        {"Patcher-Release.txt", L"Lista plików zawiera niedozwoloną nazwę: Patcher-Release.txt"},
        {"dane/aux.txt", L"Lista plików zawiera niedozwoloną nazwę: dane\\aux.txt"},  // a device: the run would hang
        {"COM1.log", L"Lista plików zawiera niedozwoloną nazwę: COM1.log"},
    };
    for (const auto& [path, text] : cases) {
        const std::string empty = "d41d8cd98f00b204e9800998ecf8427e 0 ";
        PutOnSite(L"manifest.md5", empty + "a.pak\n" + empty + path + "\n");
        EXPECT_EQ(RunExpectingFailure(), text) << path;
        EXPECT_EQ(ReadGameFile(L"a.pak"), "stara");
    }
    for (const std::string& request : SiteRequests()) EXPECT_EQ(request.find(SitePath() + "manifest.md5?"), 0u);
}

TEST_F(FaultTest, AStagingFileAScannerStillHoldsIsWaitedForWithinTheAttempt) {
    OneStaleFile({});
    WriteGameFile(L"Data\\mapa.pak.download", "z poprzedniego uruchomienia");
    const StandIn scanner(GameFile(L"skaner.exe"), L"hold 1500 \"" + GameFile(L"Data\\mapa.pak.download") + L"\"");
    ASSERT_TRUE(scanner.Valid());
    const std::vector<Posted> posted = Run();
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), PatternBytes(40000));
    for (const std::wstring& line : LastRunLog()) EXPECT_FALSE(StartsWith(line, L"Próba pobrania")) << WideToUtf8(line);
}

// The player closes the patcher while a scanner holds the staging name.
HANDLE WINAPI CancelWhileBusy(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    CancelRequested.store(true);
    ::SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
}

TEST_F(FaultTest, AStagingNameBusyAtACancelLogsTheCancel) {
    OneStaleFile({});
    StagingCreateFile = CancelWhileBusy;
    EXPECT_EQ(RunExpectingFailure(), L"Operacja anulowana.");
    StagingCreateFile = ::CreateFileW;
    EXPECT_EQ(LastRunLog()[1], L"Próba pobrania 1/3 nie powiodła się dla Data\\mapa.pak: Operacja anulowana.");
}

TEST_F(FaultTest, ADripEndsTheAttemptAsTooSlow) {
    const SlowTransferRule saved = SlowTransferLimit;
    SlowTransferLimit = {std::chrono::milliseconds(1000), 1024};
    OneStaleFile({"slow 1 300"});  // a byte every 0.3 s, then the whole file
    const std::vector<Posted> posted = Run();
    SlowTransferLimit = saved;
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1});
    EXPECT_EQ(LastRunLog()[1], L"Próba pobrania 1/3 nie powiodła się dla Data\\mapa.pak: Serwer przesyła dane zbyt wolno.");
}

// A queue that is full for the first three posts of WM_PATCHER_DONE.
int refusedEnds = 0;
BOOL WINAPI FullForThreeEnds(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PATCHER_DONE && refusedEnds < 3) {
        ++refusedEnds;
        ::SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return ::PostMessageW(window, message, wParam, lParam);
}

TEST_F(FaultTest, TheEndOfARunReachesAFullQueue) {
    Publish(L"a.txt", "a");
    WriteManifest();
    WriteIni();
    WriteGameFile(L"a.txt", "a");
    PostToWindow = FullForThreeEnds;
    const std::vector<Posted> posted = Run();
    PostToWindow = ::PostMessageW;
    EXPECT_EQ(refusedEnds, 3);
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1});
}

}  // namespace
