// Hashes one file with ComputeFileMd5 and prints the digest and the seconds
// taken, measured inside the process so that Wine's start-up is left out.
#include <chrono>
#include <cstdio>
#include <string>

#include "common/text.h"
#include "net/file_md5.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: md5_bench FILE\n");
        return 2;
    }
    std::wstring md5;
    std::wstring error;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = ComputeFileMd5(argv[1], md5, error);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "%s\n", WideToUtf8(error).c_str());
        return 1;
    }
    std::printf("%s %.6f\n", WideToUtf8(md5).c_str(), elapsed.count());
    return 0;
}
