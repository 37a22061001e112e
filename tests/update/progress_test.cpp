#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "update/progress.h"
#include "update/run_report.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t MiB = 1048576;
const SteadyClock::time_point T0 = SteadyClock::time_point{} + 1000s;
const std::wstring kUnsettledLine =
    L"Szacowany czas do końca: stabilizowanie pomiaru...    Twoja prędkość pobierania: pomiar w toku (--)";

// A phase of one file of `fileSize` bytes after `completed` bytes of earlier files, started at T0.
DownloadProgressState PhaseAt(std::uint64_t bytesTotal, std::uint64_t fileSize, std::uint64_t completed = 0) {
    DownloadProgressState state;
    StartDownloadPhase(state, bytesTotal, T0);
    state.currentEntry.size = fileSize;
    state.bytesCompleted = completed;
    return state;
}

// Pins the speed at `speed` for a call at `now`: the sample window is still open.
void HoldSpeed(DownloadProgressState& state, double speed, SteadyClock::time_point now) {
    state.smoothedSpeed = speed;
    state.sampleStart = now - 500ms;
}

TEST(FormatBytes, UnitsDecimalsAndTheGigabyteCap) {
    EXPECT_EQ(FormatBytes(0), L"0 B");
    EXPECT_EQ(FormatBytes(1023), L"1023 B");
    EXPECT_EQ(FormatBytes(1024), L"1.0 KB");
    EXPECT_EQ(FormatBytes(1536), L"1.5 KB");
    EXPECT_EQ(FormatBytes(1048575), L"1024.0 KB");  // rounded in its unit, not promoted
    EXPECT_EQ(FormatBytes(10485760), L"10.0 MB");
    EXPECT_EQ(FormatBytes(1073741824), L"1.0 GB");
    EXPECT_EQ(FormatBytes(1024 * 1073741824ULL), L"1024.0 GB");
    EXPECT_EQ(FormatBytes(std::numeric_limits<std::uint64_t>::max()), L"17179869184.0 GB");
}

TEST(FormatSeconds, TwoDecimalsBelowTenOneFromThere) {
    EXPECT_EQ(FormatSeconds(0), L"0.00 s");
    EXPECT_EQ(FormatSeconds(3.14159), L"3.14 s");
    EXPECT_EQ(FormatSeconds(9.999), L"10.00 s");
    EXPECT_EQ(FormatSeconds(10.0), L"10.0 s");
    EXPECT_EQ(FormatSeconds(12.345), L"12.3 s");
    EXPECT_EQ(FormatSeconds(1234567.89), L"1234567.9 s");
    EXPECT_EQ(FormatSeconds(-5.0), L"0.00 s");
}

TEST(FormatDuration, RoundsHalfUpAndDropsTheSmallestUnitOfLongTimes) {
    EXPECT_EQ(FormatDuration(0.4), L"mniej niż 1 s");
    EXPECT_EQ(FormatDuration(0.999), L"mniej niż 1 s");
    EXPECT_EQ(FormatDuration(-3.0), L"mniej niż 1 s");
    EXPECT_EQ(FormatDuration(std::numeric_limits<double>::quiet_NaN()), L"mniej niż 1 s");
    EXPECT_EQ(FormatDuration(1.0), L"1 s");
    EXPECT_EQ(FormatDuration(42.4), L"42 s");
    EXPECT_EQ(FormatDuration(59.5), L"1 min");
    EXPECT_EQ(FormatDuration(125), L"2 min 5 s");
    EXPECT_EQ(FormatDuration(3599.6), L"1 godz.");
    EXPECT_EQ(FormatDuration(3600), L"1 godz.");
    EXPECT_EQ(FormatDuration(3661), L"1 godz. 1 min");
    EXPECT_EQ(FormatDuration(7530), L"2 godz. 5 min");
    EXPECT_EQ(FormatDuration(1e300), L"5124095576030431 godz.");  // saturates at 2^64 - 1 s
}

TEST(SpeedRating, FirstBoundTheSpeedIsBelow) {
    EXPECT_EQ(SpeedRating(0.0), L"bardzo słaba");
    EXPECT_EQ(SpeedRating(262143.0), L"bardzo słaba");
    EXPECT_EQ(SpeedRating(262144.0), L"słaba");
    EXPECT_EQ(SpeedRating(1048575.0), L"słaba");
    EXPECT_EQ(SpeedRating(1048576.0), L"przeciętna");
    EXPECT_EQ(SpeedRating(3145727.0), L"przeciętna");
    EXPECT_EQ(SpeedRating(3145728.0), L"dobra");
    EXPECT_EQ(SpeedRating(10485760.0), L"bardzo dobra");
    EXPECT_EQ(SpeedRating(31457279.0), L"bardzo dobra");
    EXPECT_EQ(SpeedRating(31457280.0), L"doskonała");
}

TEST(DownloadProgress, FirstCallShowsThePhaseAverageAndTheUnsettledLine) {
    DownloadProgressState state;
    state.sampleBytes = 7;
    state.smoothedSpeed = 3.0;
    state.smoothedEta = 9.0;
    state.bytesCompleted = 11;
    StartDownloadPhase(state, 8 * MiB, T0);
    EXPECT_EQ(state.bytesCompleted, 0u);
    EXPECT_EQ(state.bytesTotal, 8 * MiB);
    EXPECT_EQ(state.phaseStart, T0);
    EXPECT_EQ(state.sampleStart, T0);
    EXPECT_EQ(state.sampleBytes, 0u);
    EXPECT_EQ(state.smoothedSpeed, 0.0);
    EXPECT_EQ(state.lastReport, T0 - 1s);
    EXPECT_EQ(state.smoothedEta, -1.0);

    state.currentEntry.size = 4 * MiB;
    const ProgressView view = ComposeDownloadProgress(state, 512 * 1024, T0 + 500ms);
    EXPECT_EQ(view.totalPercent, 6u);
    EXPECT_EQ(view.filePercent, 12u);
    // No one-second window has closed: 512 KB in 0.5 s is the phase average.
    EXPECT_EQ(view.countsText, L"Całość: 512.0 KB / 8.0 MB    Plik: 512.0 KB / 4.0 MB    1.0 MB/s");
    EXPECT_EQ(view.rateText, kUnsettledLine);
    EXPECT_EQ(state.lastReport, T0 + 500ms);
    EXPECT_EQ(state.smoothedSpeed, 0.0);
    EXPECT_EQ(state.smoothedEta, -1.0);
}

TEST(DownloadProgress, CountsLineByteForByte) {
    const std::uint64_t fileDone = 2202010;  // 2.1 MB
    DownloadProgressState state = PhaseAt(80 * MiB, 4 * MiB, 12 * MiB + MiB / 2 - fileDone);
    HoldSpeed(state, 1.8 * MiB, T0 + 3s);
    EXPECT_EQ(ComposeDownloadProgress(state, fileDone, T0 + 3s).countsText,
              L"Całość: 12.5 MB / 80.0 MB    Plik: 2.1 MB / 4.0 MB    1.8 MB/s");
}

TEST(DownloadProgress, BottomLineAtMostOnceASecondButAlwaysForTheLastBlock) {
    DownloadProgressState state = PhaseAt(1000, 1000);
    EXPECT_FALSE(ComposeDownloadProgress(state, 100, T0 + 500ms).rateText.empty());

    const ProgressView throttled = ComposeDownloadProgress(state, 200, T0 + 1499ms);
    EXPECT_TRUE(throttled.rateText.empty());
    EXPECT_EQ(throttled.totalPercent, 20u);
    EXPECT_FALSE(throttled.countsText.empty());
    EXPECT_EQ(state.lastReport, T0 + 500ms);

    EXPECT_EQ(ComposeDownloadProgress(state, 300, T0 + 1500ms).rateText, kUnsettledLine);
    EXPECT_EQ(state.lastReport, T0 + 1500ms);
    EXPECT_EQ(ComposeDownloadProgress(state, 1000, T0 + 1600ms).rateText, kUnsettledLine);
    EXPECT_EQ(state.lastReport, T0 + 1600ms);
}

TEST(DownloadProgress, SpeedIsSmoothedOverWindowsOfAtLeastOneSecond) {
    DownloadProgressState state = PhaseAt(100000000, 100000000);
    ComposeDownloadProgress(state, 1000000, T0 + 1s);
    EXPECT_DOUBLE_EQ(state.smoothedSpeed, 1000000.0);  // the first window is taken as it is
    EXPECT_EQ(state.sampleBytes, 1000000u);
    EXPECT_EQ(state.sampleStart, T0 + 1s);

    // An open window changes nothing; the counts line shows the smoothed speed.
    const ProgressView view = ComposeDownloadProgress(state, 4000000, T0 + 1900ms);
    EXPECT_DOUBLE_EQ(state.smoothedSpeed, 1000000.0);
    EXPECT_EQ(view.countsText.substr(view.countsText.rfind(L"    ")), L"    976.6 KB/s");

    ComposeDownloadProgress(state, 5000000, T0 + 3s);  // 2 MB/s over 2 s
    EXPECT_DOUBLE_EQ(state.smoothedSpeed, 0.1 * 2000000.0 + 0.9 * 1000000.0);
    ComposeDownloadProgress(state, 5000000, T0 + 4s);  // a stalled window restarts, the speed stays
    EXPECT_DOUBLE_EQ(state.smoothedSpeed, 1100000.0);
    EXPECT_EQ(state.sampleStart, T0 + 4s);
}

TEST(DownloadProgress, RetriedAttemptMovesBackAndRestartsTheSampleWindow) {
    DownloadProgressState state = PhaseAt(10 * MiB, 4 * MiB, 4 * MiB);
    state.smoothedSpeed = 500000.0;
    state.sampleBytes = 6 * MiB;
    state.sampleStart = T0 + 9s;
    const ProgressView view = ComposeDownloadProgress(state, 0, T0 + 12s);
    EXPECT_EQ(view.totalPercent, 40u);
    EXPECT_EQ(view.filePercent, 0u);
    EXPECT_EQ(state.sampleBytes, 4 * MiB);
    EXPECT_EQ(state.sampleStart, T0 + 12s);
    EXPECT_EQ(state.smoothedSpeed, 500000.0);
    EXPECT_EQ(view.countsText, L"Całość: 4.0 MB / 10.0 MB    Plik: 0 B / 4.0 MB    488.3 KB/s");
}

TEST(DownloadProgress, EmptyOverlongAndHugeFilesStayWithin100Percent) {
    DownloadProgressState empty = PhaseAt(0, 0);
    empty.lastReport = T0 + 1500ms;  // a whole phase done always gets its bottom line
    const ProgressView emptyView = ComposeDownloadProgress(empty, 100, T0 + 2s);
    EXPECT_EQ(emptyView.totalPercent, 100u);
    EXPECT_EQ(emptyView.filePercent, 100u);
    EXPECT_EQ(emptyView.countsText, L"Całość: 0 B / 0 B    Plik: 0 B / 0 B    0 B/s");
    EXPECT_EQ(emptyView.rateText, kUnsettledLine);

    DownloadProgressState overlong = PhaseAt(3000, 1000, 2000);
    const ProgressView overlongView = ComposeDownloadProgress(overlong, 5000, T0 + 2s);
    EXPECT_EQ(overlongView.filePercent, 100u);
    EXPECT_EQ(overlongView.totalPercent, 100u);
    EXPECT_NE(overlongView.countsText.find(L"Plik: 1000 B / 1000 B"), std::wstring::npos);

    DownloadProgressState partial = PhaseAt(3, 3);
    EXPECT_EQ(ComposeDownloadProgress(partial, 2, T0 + 1s).filePercent, 66u);  // truncated

    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    DownloadProgressState huge = PhaseAt(max, max);
    EXPECT_EQ(ComposeDownloadProgress(huge, max / 2, T0 + 1s).filePercent, 49u);  // 49.99...
    EXPECT_EQ(ComposeDownloadProgress(huge, max - 1, T0 + 2s).filePercent, 99u);
    EXPECT_EQ(ComposeDownloadProgress(huge, max, T0 + 3s).filePercent, 100u);
}

TEST(DownloadProgress, SettlingThresholdsAreInclusive) {
    // 5 s, 2 MiB and 1024 B/s exactly; each one a hair lower leaves it unsettled.
    const auto rateLine = [](SteadyClock::duration elapsed, std::uint64_t done, double speed) {
        DownloadProgressState state = PhaseAt(100 * MiB, 100 * MiB);
        HoldSpeed(state, speed, T0 + elapsed);
        const std::wstring line = ComposeDownloadProgress(state, done, T0 + elapsed).rateText;
        EXPECT_EQ(state.smoothedEta < 0.0, line == kUnsettledLine);
        return line;
    };
    // blended = 1024 * 0.6 + 2 MiB / 5 s * 0.4 = 168386.56 B/s; 98 MiB left take 610.27 s.
    EXPECT_EQ(rateLine(5s, 2 * MiB, 1024.0),
              L"Szacowany czas do końca: 10 min 10 s    Twoja prędkość pobierania: bardzo słaba (164.4 KB/s)");
    EXPECT_EQ(rateLine(5s - 1ns, 2 * MiB, 1024.0), kUnsettledLine);
    EXPECT_EQ(rateLine(5s, 2 * MiB - 1, 1024.0), kUnsettledLine);
    EXPECT_EQ(rateLine(5s, 2 * MiB, 1023.99), kUnsettledLine);
}

TEST(DownloadProgress, EstimateIsClampedDampedAndZeroAtTheEnd) {
    // 10 MiB of 20 MiB in 10 s at 1 MiB/s: a raw estimate of 10 s.
    const auto estimateAfter = [](double previous, std::uint64_t done, std::wstring* line = nullptr) {
        DownloadProgressState state = PhaseAt(20 * MiB, 20 * MiB);
        HoldSpeed(state, 1.0 * MiB, T0 + 10s);
        state.smoothedEta = previous;
        const std::wstring rate = ComposeDownloadProgress(state, done, T0 + 10s).rateText;
        if (line != nullptr) *line = rate;
        return state.smoothedEta;
    };
    std::wstring line;
    EXPECT_DOUBLE_EQ(estimateAfter(-1.0, 10 * MiB), 10.0);
    EXPECT_DOUBLE_EQ(estimateAfter(100.0, 10 * MiB, &line), 95.5);  // raw clamped to 100 - 15
    EXPECT_EQ(line, L"Szacowany czas do końca: 1 min 36 s    Twoja prędkość pobierania: przeciętna (1.0 MB/s)");
    EXPECT_DOUBLE_EQ(estimateAfter(4.0, 20 * MiB - 1), 3.4);  // raw near 0 clamped to 4 - 2
    EXPECT_DOUBLE_EQ(estimateAfter(5.0, 10 * MiB), 5.6);  // raw 10 clamped to 5 + 2 (not 15 %)

    EXPECT_EQ(estimateAfter(100.0, 20 * MiB, &line), 0.0);
    EXPECT_EQ(line, L"Szacowany czas do końca: mniej niż 1 s    Twoja prędkość pobierania: przeciętna (1.4 MB/s)");
}

// What the stand-in main window received, in order: message, number, text.
struct Received {
    UINT message;
    WPARAM number;
    std::wstring text;
};
std::vector<Received> ReceivedMessages;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_PATCHER_STATUS && message <= WM_PATCHER_RATE) {
        const bool isText = IsTextMessage(message);
        ReceivedMessages.push_back({message, wParam, isText ? PostedText(lParam) : L""});
        if (isText) DeletePostedText(lParam);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

TEST(ReportDownloadProgress, PostsBothBarsTheCountsAndTheUnthrottledBottomLine) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = RecordingWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PatcherProgressTestWindow";
    ASSERT_NE(::RegisterClassExW(&windowClass), 0);
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    MainWindow = window;

    DownloadProgressState state;
    StartDownloadPhase(state, 1000, SteadyClock::now());
    state.currentEntry.size = 1000;
    ReportDownloadProgress(state, 250);
    state.lastReport = SteadyClock::now() + 1h;  // the next call is throttled however slow the host
    ReportDownloadProgress(state, 500);
    MSG msg;
    while (::PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    MainWindow = nullptr;
    ::DestroyWindow(window);

    ASSERT_EQ(ReceivedMessages.size(), 7u);
    const UINT expected[] = {WM_PATCHER_TOTAL_PROGRESS, WM_PATCHER_FILE_PROGRESS, WM_PATCHER_COUNTS,
                             WM_PATCHER_RATE,           WM_PATCHER_TOTAL_PROGRESS, WM_PATCHER_FILE_PROGRESS,
                             WM_PATCHER_COUNTS};
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(ReceivedMessages[i].message, expected[i]) << i;
    EXPECT_EQ(ReceivedMessages[0].number, 25u);
    EXPECT_EQ(ReceivedMessages[1].number, 25u);
    EXPECT_EQ(ReceivedMessages[2].text.rfind(L"Całość: 250 B / 1000 B    Plik: 250 B / 1000 B    ", 0), 0u);
    EXPECT_EQ(ReceivedMessages[3].text, kUnsettledLine);
    EXPECT_EQ(ReceivedMessages[4].number, 50u);
    EXPECT_EQ(ReceivedMessages[6].text.rfind(L"Całość: 500 B / 1000 B", 0), 0u);
    EXPECT_EQ(LiveWindowTextCount(), 0);
}

}  // namespace
