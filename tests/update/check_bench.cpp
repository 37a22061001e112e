// Runs the check phase of an update run over a game directory against a
// manifest file and prints how many files were stale and the seconds taken,
// measured inside the process so that Wine's start-up is left out.
//   check_bench GAME_DIR MANIFEST
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/app_paths.h"
#include "common/text.h"
#include "update/check_phase.h"
#include "update/run_context.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: check_bench GAME_DIR MANIFEST\n");
        return 2;
    }
    SetAppPaths(AppendPath(argv[1], L"Zerandis_Patcher.exe"));
    std::ifstream in(argv[2], std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RunContext run;
    if (!ParseManifest(bytes, run.manifest, run.errorText)) {
        std::fprintf(stderr, "%s\n", WideToUtf8(run.errorText).c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    CheckLocalFiles(run);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%zu %zu %.6f\n", run.manifest.size(), run.downloadList.size(), elapsed.count());
    return 0;
}
