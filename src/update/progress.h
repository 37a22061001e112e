#pragma once
// What the window shows while stale files download: the two bars, the counts
// line with the current speed, and the bottom line with the remaining time
// and a one-word rating of the connection. Also the number and time texts
// that the run's log lines and summary use.

#include <chrono>
#include <cstdint>
#include <string>

#include "net/manifest.h"

using SteadyClock = std::chrono::steady_clock;

// The run's counters for one download phase, lent to the composer by reference.
struct DownloadProgressState {
    ManifestEntry currentEntry;           // the file being downloaded (its size is the file's total)
    std::uint64_t bytesCompleted = 0;     // bytes of the files already installed in this run
    std::uint64_t bytesTotal = 0;         // sum of the sizes of every file to download
    SteadyClock::time_point phaseStart{};
    SteadyClock::time_point sampleStart{};  // start of the current speed-sample window
    std::uint64_t sampleBytes = 0;          // the phase's byte count at sampleStart
    double smoothedSpeed = 0.0;             // bytes per second; 0 while there is no value
    SteadyClock::time_point lastReport{};   // when the bottom line was last posted
    double smoothedEta = -1.0;              // seconds; negative while there is no estimate
};

// Sets every field for a phase of `bytesTotal` bytes that starts at `now`
// (lastReport one second earlier, so the first call posts the bottom line).
void StartDownloadPhase(DownloadProgressState& state, std::uint64_t bytesTotal, SteadyClock::time_point now);

// What one progress call shows. rateText is empty when the bottom line is
// throttled (posted at most once a second, and always for the phase's last block).
struct ProgressView {
    std::uint64_t totalPercent = 0;  // 0-100
    std::uint64_t filePercent = 0;   // 0-100
    std::wstring countsText;
    std::wstring rateText;
};

// The composer at time `now`: updates the speed sample, the estimate and
// lastReport in `state` and returns what to show. Touches no window or clock.
ProgressView ComposeDownloadProgress(DownloadProgressState& state, std::uint64_t fileBytesDone,
                                     SteadyClock::time_point now);

// The download callback's work: composes at the steady clock's now and posts
// both bars, the counts line and, when not throttled, the bottom line.
void ReportDownloadProgress(DownloadProgressState& state, std::uint64_t fileBytesDone);

// done * 100 / total in whole percent, truncating; 100 when total is 0 and at
// most 100; exact for any 64-bit counts.
std::uint64_t PercentOf(std::uint64_t done, std::uint64_t total);

// "0 B", "1023 B", "1.0 KB", "10.0 MB"; GB is the largest unit.
std::wstring FormatBytes(std::uint64_t count);

// "3.14 s" below 10 s, "12.3 s" from there; negative counts as 0.
std::wstring FormatSeconds(double seconds);

// "mniej niż 1 s", "42 s", "2 min 5 s", "2 godz. 5 min".
std::wstring FormatDuration(double seconds);

// One of the six rating words for a speed in bytes per second.
std::wstring SpeedRating(double bytesPerSecond);
