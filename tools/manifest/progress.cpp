#include "progress.h"

#include <array>
#include <cstdio>

namespace {

constexpr std::chrono::seconds kInterval{1};

}  // namespace

std::string FormatByteCount(uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), unit >= 2 ? "%.2f %s" : "%.1f %s", value, units[unit]);
    return text.data();
}

ProgressReport::ProgressReport(std::ostream* out, uint64_t totalFiles, uint64_t totalBytes, Clock clock)
    : out_(out), totalFiles_(totalFiles), totalBytes_(totalBytes), clock_(std::move(clock)) {
    if (out_) {
        start_ = clock_();
        nextLine_ = start_ + kInterval;
    }
}

void ProgressReport::AddBytes(uint64_t bytes) {
    bytes_ += bytes;
    MaybePrint();
}

void ProgressReport::FileDone() {
    ++files_;
    MaybePrint();
}

void ProgressReport::Finish() {
    if (printed_) Print();
}

void ProgressReport::MaybePrint() {
    if (!out_) return;
    const auto now = clock_();
    if (now < nextLine_) return;
    nextLine_ = now + kInterval;
    Print();
}

void ProgressReport::Print() {
    const double seconds = std::chrono::duration<double>(clock_() - start_).count();
    const auto rate = seconds > 0 ? static_cast<uint64_t>(static_cast<double>(bytes_) / seconds) : 0;
    *out_ << "zerandis-manifest: " << files_ << "/" << totalFiles_ << " files, " << FormatByteCount(bytes_) << " of "
         << FormatByteCount(totalBytes_) << ", " << FormatByteCount(rate) << "/s\n";
    out_->flush();
    printed_ = true;
}
