#pragma once
// Progress of a long run on standard error: files done, bytes, rate.

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

// Byte counts as people read them: "512 B", "1.5 KiB", "12.3 MiB", "4.20 GiB".
std::string FormatByteCount(uint64_t bytes);

class ProgressReport {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Prints nothing when `out` is null; otherwise a line once a second, the
    // first after one second, so short runs stay silent.
    ProgressReport(std::ostream* out, uint64_t totalFiles, uint64_t totalBytes,
                   Clock clock = std::chrono::steady_clock::now);

    void AddBytes(uint64_t bytes);
    void FileDone();
    // The closing line, only when a progress line was printed before.
    void Finish();

private:
    void MaybePrint();
    void Print();

    std::ostream* out_;
    uint64_t totalFiles_;
    uint64_t totalBytes_;
    uint64_t files_ = 0;
    uint64_t bytes_ = 0;
    bool printed_ = false;
    Clock clock_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point nextLine_;
};
