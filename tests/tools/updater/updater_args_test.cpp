#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater_args.h"

namespace {

using Arguments = std::vector<std::wstring>;

TEST(ParseUpdaterArgs, ReadsTheHandoffCommandLineInAnyOrder) {
    const UpdaterArgs args = ParseUpdaterArgs({L"--pid", L"4036", L"--current", L"C:\\Gra\\Zerandis_Patcher.exe",
                                               L"--new", L"C:\\Gra\\Zerandis_Patcher.exe.new"});
    EXPECT_EQ(args.problem, L"");
    EXPECT_EQ(args.patcherPid, 4036u);
    EXPECT_EQ(args.currentExe, L"C:\\Gra\\Zerandis_Patcher.exe");
    EXPECT_EQ(args.newExe, L"C:\\Gra\\Zerandis_Patcher.exe.new");
    EXPECT_EQ(args.waitMs, 30000u);

    const UpdaterArgs reordered = ParseUpdaterArgs(
        {L"--new", L"\\\\serwer\\gra\\p.exe.new", L"--current", L"\\\\serwer\\gra\\p.exe", L"--pid", L"4294967295"});
    EXPECT_EQ(reordered.problem, L"");
    EXPECT_EQ(reordered.patcherPid, 4294967295u);
}

TEST(ParseUpdaterArgs, NamesTheFirstProblem) {
    const std::wstring current = L"C:\\Gra\\p.exe";
    const std::wstring next = L"C:\\Gra\\p.exe.new";
    const struct {
        Arguments arguments;
        std::wstring problem;
    } cases[] = {
        {{L"--current", current, L"--new", next}, L"brak argumentu --pid"},
        {{L"--pid", L"12", L"--new", next}, L"brak argumentu --current"},
        {{L"--pid", L"12", L"--current", current}, L"brak argumentu --new"},
        {{L"--pid", L"12", L"--current", current, L"--new"}, L"brak wartości argumentu --new"},
        {{L"--pid", L"12x", L"--current", current, L"--new", next}, L"nieprawidłowy identyfikator procesu: 12x"},
        {{L"--pid", L"-12", L"--current", current, L"--new", next}, L"nieprawidłowy identyfikator procesu: -12"},
        {{L"--pid", L" 12", L"--current", current, L"--new", next}, L"nieprawidłowy identyfikator procesu:  12"},
        {{L"--pid", L"0", L"--current", current, L"--new", next}, L"nieprawidłowy identyfikator procesu: 0"},
        {{L"--pid", L"4294967296", L"--current", current, L"--new", next},
         L"nieprawidłowy identyfikator procesu: 4294967296"},
        {{L"--pid", L"", L"--current", current, L"--new", next}, L"nieprawidłowy identyfikator procesu: "},
        {{L"--pid", L"12", L"--pid", L"13", L"--current", current, L"--new", next},
         L"argument --pid podano więcej niż raz"},
        {{L"--pid", L"12", L"--current", current, L"--new", next, L"--force"}, L"nieznany argument: --force"},
        {{L"--pid", L"12", L"--current", L"p.exe", L"--new", next},
         L"ścieżka --current nie jest bezwzględna: p.exe"},
        {{L"--pid", L"12", L"--current", current, L"--new", L"\\Gra\\p.exe.new"},
         L"ścieżka --new nie jest bezwzględna: \\Gra\\p.exe.new"},
        {{L"--pid", L"12", L"--current", current, L"--new", L"c:\\GRA\\.\\P.EXE"},
         L"--new wskazuje ten sam plik co --current: c:\\GRA\\.\\P.EXE"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseUpdaterArgs(c.arguments).problem, c.problem) << c.problem;
    }
    // Kept for the log even when the rest is unusable.
    EXPECT_EQ(ParseUpdaterArgs({L"--current", current}).currentExe, current);
}

}  // namespace
