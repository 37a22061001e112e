// CheckManifestNames: what a manifest may not name, the text of each refusal,
// and the order of the checks. The shared table of names
// (tests/manifest_tool/manifest_names.txt) covers the verdicts at large.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/manifest_rules.h"

namespace {

const std::wstring kNotAllowed = L"Lista plików zawiera niedozwoloną nazwę: ";
const std::wstring kStaging = L"Lista plików zawiera nazwę pliku tymczasowego: ";
const std::wstring kTwice = L"Lista plików wymienia ten sam plik więcej niż raz: ";
const std::wstring kLog = L"Lista plików nie może zastępować dziennika patcher.txt.";

// The refusal text for a manifest of `paths`; "ok" when it passes, the error then untouched.
std::wstring Verdict(const std::vector<std::wstring>& paths) {
    Manifest manifest;
    for (const std::wstring& path : paths) manifest.push_back({std::wstring(32, L'0'), 0, path});
    std::wstring error = L"ok";
    const bool passed = CheckManifestNames(manifest, L"Zerandis_Patcher.exe.new", error);
    EXPECT_EQ(passed, error == L"ok");
    return error;
}

TEST(CheckManifestNames, DistinctUsableNamesPass) {
    EXPECT_EQ(Verdict({L"Zerandis_Patcher.exe", L"Dane\\a.pak", L".\\Dane\\b.pak", L"sub\\patcher.txt",
                       L"CONSOLE.txt", L"COM10", L"x.con"}),
              L"ok");
}

TEST(CheckManifestNames, EachRefusalHasItsText) {
    for (const std::wstring path : {L"Dane\\aux.txt", L"COM1.log", L"lpt\u00B2", L"Dane.\\a.pak", L"a.pak ",
                                    L"a\tb", L"a?b", L".", L"patcher-crash.dmp", L"Patcher-Release.txt"}) {
        EXPECT_EQ(Verdict({path}), kNotAllowed + path);
    }
    EXPECT_EQ(Verdict({L".\\PATCHER.txt."}), kLog);
    EXPECT_EQ(Verdict({L"Dane\\a.pak.Download"}), kStaging + L"Dane\\a.pak.Download");
    EXPECT_EQ(Verdict({L"zerandis_patcher.EXE.new"}), kStaging + L"zerandis_patcher.EXE.new");
    EXPECT_EQ(Verdict({L"a.pak", L"A.PAK"}), kTwice + L"A.PAK");
}

// Log, staging name, a name listed before, then the rest: the first entry
// at fault names the refusal.
TEST(CheckManifestNames, ChecksInOrder) {
    EXPECT_EQ(Verdict({L"aux.txt.download"}), kStaging + L"aux.txt.download");
    EXPECT_EQ(Verdict({L"a.pak", L"a.pak."}), kTwice + L"a.pak.");
    EXPECT_EQ(Verdict({L"d\\nul", L"patcher.txt"}), kNotAllowed + L"d\\nul");
}

// Windows' own upper-casing joins letters the shared folding leaves apart
// (Armenian here), and the patcher keeps that strictness.
TEST(CheckManifestNames, NamesAreComparedAsWindowsStoresThem) {
    EXPECT_EQ(Verdict({L"\u0531.pak", L"\u0561.pak"}), kTwice + L"\u0561.pak");
}

}  // namespace
