// Runs the check phase of an update run over a game directory against a
// manifest file and prints how many files were stale and the seconds taken,
// measured inside the process so that Wine's start-up is left out.
//   check_bench GAME_DIR MANIFEST        the run's CheckLocalFiles
//   check_bench bare GAME_DIR MANIFEST   the least a Windows program does for
//                                        the same answer: size query, open,
//                                        1 MiB reads into BCrypt MD5, close
// Output: "<listed> <stale> <seconds>".
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "update/check_phase.h"
#include "update/run_context.h"

#include <bcrypt.h>  // after windows.h, whose types it uses

namespace {

// One provider and one buffer for all files, no error texts, no posts.
class BareChecker {
public:
    BareChecker() : buffer_(new UCHAR[kChunk]) {
        ::BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_MD5_ALGORITHM, nullptr, 0);
    }
    ~BareChecker() { ::BCryptCloseAlgorithmProvider(algorithm_, 0); }
    BareChecker(const BareChecker&) = delete;
    BareChecker& operator=(const BareChecker&) = delete;

    bool IsCurrent(const ManifestEntry& entry) {
        const std::wstring path = ResolveAppPath(entry.path);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
        if (((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) != entry.size) return false;
        FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return false;
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (::BCryptCreateHash(algorithm_, &hash, nullptr, 0, nullptr, 0, 0) < 0) return false;
        UCHAR digest[16] = {};
        bool ok = true;
        for (DWORD read = 0; (ok = ::ReadFile(file.Get(), buffer_.get(), kChunk, &read, nullptr) != FALSE) && read > 0;) {
            ::BCryptHashData(hash, buffer_.get(), read, 0);
        }
        ::BCryptFinishHash(hash, digest, sizeof(digest), 0);
        ::BCryptDestroyHash(hash);
        static const char hex[] = "0123456789abcdef";
        std::wstring text;
        for (UCHAR b : digest) {
            text.push_back(static_cast<wchar_t>(hex[b >> 4]));
            text.push_back(static_cast<wchar_t>(hex[b & 15]));
        }
        return ok && text == entry.md5;
    }

private:
    static constexpr DWORD kChunk = 1048576;
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    std::unique_ptr<UCHAR[]> buffer_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool bare = argc == 4 && std::wstring(argv[1]) == L"bare";
    if (argc != (bare ? 4 : 3)) {
        std::fprintf(stderr, "usage: check_bench [bare] GAME_DIR MANIFEST\n");
        return 2;
    }
    const wchar_t* gameDir = argv[bare ? 2 : 1];
    SetAppPaths(AppendPath(gameDir, L"Zerandis_Patcher.exe"));
    std::ifstream in(argv[bare ? 3 : 2], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RunContext run;
    if (!ParseManifest(bytes, run.manifest, run.errorText)) {
        std::fprintf(stderr, "%s\n", WideToUtf8(run.errorText).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    if (bare) {
        BareChecker checker;
        for (const ManifestEntry& entry : run.manifest) {
            if (!checker.IsCurrent(entry)) run.downloadList.push_back(entry);
        }
    } else {
        CheckLocalFiles(run);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%zu %zu %.6f\n", run.manifest.size(), run.downloadList.size(), elapsed.count());
    return 0;
}
