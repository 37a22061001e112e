#include "update/progress.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/text.h"
#include "update/run_report.h"

namespace {

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kSettledBytes = 2097152;  // 2 MiB
constexpr double kSettledSeconds = 5.0;
constexpr double kSettledSpeed = 1024.0;

double SecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count();
    return static_cast<double>(nanoseconds) / 1000000000.0;
}

// Fixed notation with `decimals` digits after a "." whatever the process
// locale: to_chars never consults it.
std::wstring FixedText(double value, int decimals) {
    char buffer[512];  // DBL_MAX has 309 integer digits
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return L"0";
    return std::wstring(buffer, result.ptr);  // ASCII only
}

std::wstring IntegerText(std::uint64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    return std::wstring(buffer, result.ptr);
}

// A double cut down to whole units; out-of-range values (and NaN) saturate
// instead of being undefined conversions.
std::uint64_t WholeCount(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 18446744073709551616.0) return kMaxCount;
    return static_cast<std::uint64_t>(value);
}

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    return a > kMaxCount - b ? kMaxCount : a + b;
}


// Limits a new raw estimate to within 15 % (at least 2 s) of the previous
// one, then moves 30 % of the way towards it, so the time left does not jump.
double DampedEstimate(double previous, double raw) {
    if (previous < 0.0) return raw;
    const double tolerance = std::max(previous * 0.15, 2.0);
    const double low = std::max(previous - tolerance, 0.0);
    const double high = previous + tolerance;
    const double clamped = std::min(std::max(raw, low), high);
    return previous * 0.7 + clamped * 0.3;
}

// Restarts the one-second speed window, or closes it and folds its rate
// into the smoothed speed.
void SampleSpeed(DownloadProgressState& state, std::uint64_t totalDone, SteadyClock::time_point now) {
    if (totalDone < state.sampleBytes) {  // a new attempt restarted the file
        state.sampleBytes = totalDone;
        state.sampleStart = now;
        return;
    }
    const double sinceSample = SecondsBetween(state.sampleStart, now);
    if (sinceSample < 1.0) return;
    const std::uint64_t delta = totalDone - state.sampleBytes;
    if (delta != 0) {
        const double instant = static_cast<double>(delta) / sinceSample;
        state.smoothedSpeed = state.smoothedSpeed > 0.0 ? instant * 0.1 + state.smoothedSpeed * 0.9 : instant;
    }
    state.sampleBytes = totalDone;
    state.sampleStart = now;
}

std::wstring RateText(DownloadProgressState& state, std::uint64_t totalDone, double elapsed, double speed,
                      double average) {
    const std::uint64_t remaining = state.bytesTotal > totalDone ? state.bytesTotal - totalDone : 0;
    const bool settled = elapsed >= kSettledSeconds && totalDone >= kSettledBytes && speed >= kSettledSpeed;
    std::wstring etaText = L"stabilizowanie pomiaru...";
    std::wstring ratingText = L"pomiar w toku";
    std::wstring speedText = L"--";
    if (settled) {
        const double blended = speed * 0.6 + average * 0.4;
        const double raw = blended > 0.0 ? static_cast<double>(remaining) / blended : 0.0;
        state.smoothedEta = DampedEstimate(state.smoothedEta, raw);
        if (totalDone >= state.bytesTotal) state.smoothedEta = 0.0;
        etaText = FormatDuration(state.smoothedEta);
        ratingText = SpeedRating(blended);
        speedText = FormatBytes(WholeCount(blended)) + L"/s";
    }
    return L"Szacowany czas do końca: " + etaText + L"    Twoja prędkość pobierania: " + ratingText + L" (" +
           speedText + L")";
}

}  // namespace

std::uint64_t PercentOf(std::uint64_t done, std::uint64_t total) {
    if (total == 0 || done >= total) return 100;
    if (done <= kMaxCount / 100) return done * 100 / total;
    // done * 100 would overflow: add done a hundred times modulo total and
    // count the wraps, which gives the same quotient exactly.
    std::uint64_t percent = 0;
    std::uint64_t remainder = 0;
    for (int i = 0; i < 100; ++i) {
        if (remainder >= total - done) {
            remainder -= total - done;
            ++percent;
        } else {
            remainder += done;
        }
    }
    return percent;
}

void StartDownloadPhase(DownloadProgressState& state, std::uint64_t bytesTotal, SteadyClock::time_point now) {
    state.bytesCompleted = 0;
    state.bytesTotal = bytesTotal;
    state.phaseStart = now;
    state.sampleStart = now;
    state.sampleBytes = 0;
    state.smoothedSpeed = 0.0;
    state.lastReport = now - std::chrono::seconds(1);
    state.smoothedEta = -1.0;
}

ProgressView ComposeDownloadProgress(DownloadProgressState& state, std::uint64_t fileBytesDone,
                                     SteadyClock::time_point now) {
    const std::uint64_t fileSize = state.currentEntry.size;
    const std::uint64_t fileDone = std::min(fileBytesDone, fileSize);
    const std::uint64_t totalDone = SaturatingAdd(state.bytesCompleted, fileDone);

    ProgressView view;
    view.totalPercent = PercentOf(totalDone, state.bytesTotal);
    view.filePercent = PercentOf(fileDone, fileSize);

    const double elapsed = SecondsBetween(state.phaseStart, now);
    SampleSpeed(state, totalDone, now);
    const double average = elapsed > 0.0 ? static_cast<double>(totalDone) / elapsed : 0.0;
    const double speed = state.smoothedSpeed > 0.0 ? state.smoothedSpeed : average;

    view.countsText = L"Całość: " + FormatBytes(totalDone) + L" / " + FormatBytes(state.bytesTotal) +
                      L"    Plik: " + FormatBytes(fileDone) + L" / " + FormatBytes(fileSize) + L"    " +
                      FormatBytes(WholeCount(speed)) + L"/s";

    // The bottom line at most once a second; the phase's last block always gets one.
    if (SecondsBetween(state.lastReport, now) < 1.0 && totalDone < state.bytesTotal) return view;
    view.rateText = RateText(state, totalDone, elapsed, speed, average);
    state.lastReport = now;
    return view;
}

void ReportDownloadProgress(DownloadProgressState& state, std::uint64_t fileBytesDone) {
    const ProgressView view = ComposeDownloadProgress(state, fileBytesDone, SteadyClock::now());
    ReportTotalProgress(static_cast<WPARAM>(view.totalPercent));
    ReportFileProgress(static_cast<WPARAM>(view.filePercent));
    ReportCounts(view.countsText);
    if (!view.rateText.empty()) ReportRate(view.rateText);
}

std::wstring FormatBytes(std::uint64_t count) {
    static const wchar_t* const kUnits[] = {L" B", L" KB", L" MB", L" GB"};
    double value = static_cast<double>(count);
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value *= 0.0009765625;
        ++unit;
    }
    return FixedText(value, unit == 0 ? 0 : 1) + kUnits[unit];
}

std::wstring FormatSeconds(double seconds) {
    const double value = seconds > 0.0 ? seconds : 0.0;  // also NaN
    return FixedText(value, value < 10.0 ? 2 : 1) + L" s";
}

std::wstring FormatDuration(double seconds) {
    if (!(seconds >= 1.0)) return L"mniej niż 1 s";  // also NaN
    const std::uint64_t n = WholeCount(seconds + 0.5);
    const std::uint64_t hours = n / 3600;
    const std::uint64_t minutes = n % 3600 / 60;
    const std::uint64_t secs = n % 60;
    std::wstring text;
    if (hours > 0) {
        text = IntegerText(hours) + L" godz. ";
        if (minutes > 0) text += IntegerText(minutes) + L" min";
    } else if (minutes > 0) {
        text = IntegerText(minutes) + L" min ";
        if (secs > 0) text += IntegerText(secs) + L" s";
    } else {
        text = IntegerText(secs) + L" s";
    }
    return TrimWhitespace(text);
}

std::wstring SpeedRating(double bytesPerSecond) {
    const double m = bytesPerSecond * (1.0 / 1048576.0);
    if (m < 0.25) return L"bardzo słaba";
    if (m < 1.0) return L"słaba";
    if (m < 3.0) return L"przeciętna";
    if (m < 10.0) return L"dobra";
    if (m < 30.0) return L"bardzo dobra";
    return L"doskonała";
}
