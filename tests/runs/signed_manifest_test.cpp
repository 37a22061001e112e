// A keyed patcher: this test links a built-in key of its own (made at build
// time with openssl), and the server signs with its private half. The run
// goes on only with a signature that verifies, of a release no lower than the
// one kept in patcher-release.txt and not past its expiry, and then logs it.
#include <gtest/gtest.h>

#include "common/text.h"
#include "net_test_env.h"
#include "run_harness.h"
#include "update/run_report.h"

namespace {

class SignedManifestTest : public RunTest {
protected:
    // One stale local file: a run that got past the signature would fetch it.
    void SetUp() override {
        RunTest::SetUp();
        Publish(L"Data\\mapa.pak", PatternBytes(40000));
        WriteManifest();
        WriteIni();
        WriteGameFile(L"Data\\mapa.pak", "stara wersja");
    }

    // The current format: `release` and `expires` ("-" for none) signed with the manifest.
    void SignManifest(int release = 7, const std::string& expires = "2099-12-31") const {
        Plan(L"manifest.md5.sig", {"sign2 " + std::to_string(release) + " " + expires + " " + TEST_SIGNING_KEY});
    }
    std::string KeptRelease() const { return ReadGameFile(L"patcher-release.txt"); }

    // The "?nocache=..." of the run's manifest request.
    std::string ManifestQuery() const {
        const std::string first = SiteRequests().at(0);
        return first.substr(first.find('?'));
    }

    std::wstring FailureDetail(const std::vector<Posted>& posted) const {
        EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{0}) << Describe(posted);
        const std::wstring detail = TextsOf(posted, WM_PATCHER_DETAIL).back();
        EXPECT_EQ(Log().back(), L"BLAD: " + detail);
        EXPECT_EQ(SiteRequests(), (std::vector<std::string>{SitePath() + "manifest.md5" + ManifestQuery(),
                                                            SitePath() + "manifest.md5.sig" + ManifestQuery()}))
            << "no file is asked for";
        EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), "stara wersja");
        return detail;
    }
};

TEST_F(SignedManifestTest, AVerifiedSignatureIsLoggedAndTheRunGoesOn) {
    SignManifest();
    const std::vector<Posted> posted = Run();
    EXPECT_EQ(ValuesOf(posted, WM_PATCHER_DONE), std::vector<WPARAM>{1}) << Describe(posted);
    EXPECT_EQ(ReadGameFile(L"Data\\mapa.pak"), PatternBytes(40000));
    const std::vector<std::wstring> log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], L"Podpis listy plików zweryfikowany.");
    EXPECT_EQ(log[3], L"Wydanie plików: 7, podpis ważny do 2099-12-31.");
    EXPECT_EQ(KeptRelease(), "7\r\n");
    const std::vector<std::string> requests = SiteRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1], SitePath() + "manifest.md5.sig" + ManifestQuery()) << "the same nocache value";
}

TEST_F(SignedManifestTest, OneChangedByteIsRefusedBeforeAnythingIsChecked) {
    SignManifest();
    Plan(L"manifest.md5", {"stale"});  // its first byte flipped on the way
    const std::vector<Posted> posted = Run();
    EXPECT_EQ(FailureDetail(posted), L"Podpis listy plików jest nieprawidłowy.");
    EXPECT_EQ(IndexOf(posted, Status(L"Sprawdzanie plików...")), -1);
}

TEST_F(SignedManifestTest, AMissingSignatureFailsWithTheServersAnswer) {
    const std::vector<Posted> posted = Run();
    EXPECT_EQ(FailureDetail(posted),
              L"Serwer zwrócił HTTP 404 dla " + SiteUrl() + L"manifest.md5.sig" + Utf8ToWide(ManifestQuery()));
}

TEST_F(SignedManifestTest, AnOlderReleaseIsRefusedBeforeAnythingIsChecked) {
    WriteGameFile(L"patcher-release.txt", "8\r\n");
    SignManifest(7);
    EXPECT_EQ(FailureDetail(Run()), L"Serwer podał starsze wydanie plików (7) niż już zainstalowane (8).");
    EXPECT_EQ(KeptRelease(), "8\r\n");
}

TEST_F(SignedManifestTest, AnExpiredSignatureIsRefused) {
    SignManifest(7, "2020-01-01");
    EXPECT_EQ(FailureDetail(Run()), L"Podpis listy plików wygasł 2020-01-01.");
    EXPECT_EQ(KeptRelease(), "");
}

TEST_F(SignedManifestTest, AnOldFormatSignatureIsRefused) {
    Plan(L"manifest.md5.sig", {std::string("sign ") + TEST_SIGNING_KEY});
    EXPECT_EQ(FailureDetail(Run()), L"Podpis listy plików jest nieprawidłowy.");
}

TEST_F(SignedManifestTest, AnEqualReleaseIsTakenAndAHigherOneKeptOnlyByARunThatCompletes) {
    WriteGameFile(L"patcher-release.txt", "7\r\n");
    SignManifest(7, "-");
    EXPECT_EQ(ValuesOf(Run(), WM_PATCHER_DONE), std::vector<WPARAM>{1});
    SignManifest(9, "-");  // up to date now
    EXPECT_EQ(ValuesOf(Run(), WM_PATCHER_DONE), std::vector<WPARAM>{1});
    EXPECT_EQ(KeptRelease(), "9\r\n");
    Publish(L"Data\\mapa.pak", PatternBytes(50000));
    WriteManifest();
    SignManifest(10, "-");
    Plan(L"Data\\mapa.pak", {"stale", "stale", "stale"});
    EXPECT_EQ(ValuesOf(Run(), WM_PATCHER_DONE), std::vector<WPARAM>{0});
    EXPECT_EQ(KeptRelease(), "9\r\n");
}

TEST_F(SignedManifestTest, ACorruptStateFileCountsAsNoReleaseAndIsWrittenAgain) {
    WriteGameFile(L"patcher-release.txt", "siedem\r\n");
    SignManifest(3);
    EXPECT_EQ(ValuesOf(Run(), WM_PATCHER_DONE), std::vector<WPARAM>{1});
    EXPECT_EQ(Log()[3], L"Nie można odczytać wydania z pliku patcher-release.txt; przyjęto wydanie 0.");
    EXPECT_EQ(KeptRelease(), "3\r\n");
}

}  // namespace
