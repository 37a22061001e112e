// Times ParseManifest on a manifest as large as the download cap allows and
// compares it with a bare scan for line ends over the same bytes.

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "net/manifest.h"

namespace {

constexpr size_t kManifestBytes = 16u * 1024u * 1024u;
constexpr int kRounds = 5;

const char* const kFolders[] = {"Data Files/textures/characters", "Data Files/meshes/world/forest",
                                "Data Files/sound/ambient", "bin/plugins", "patcher", "Dane/zażółć/mapy",
                                "Data Files/interface/fonts", "locale/pl"};
const char* const kExtensions[] = {".dds", ".nif", ".ogg", ".dll", ".bin", ".map", ".ttf", ".txt"};

std::vector<char> BuildManifest(size_t& lines) {
    std::string text = "\xEF\xBB\xBF# Zerandis client manifest\r\n";
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    char line[256];
    lines = 1;
    while (true) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        const auto pick = static_cast<unsigned>(seed >> 33);
        const int length = std::snprintf(line, sizeof line, "%016" PRIx64 "%016" PRIx64 " %u %s/item_%05u_%u%s\r\n",
                                          seed, seed ^ 0xA5A5A5A5A5A5A5A5ull, pick % 50000000u,
                                          kFolders[pick % 8], static_cast<unsigned>(lines % 100000), pick % 97,
                                          kExtensions[(pick >> 8) % 8]);
        if (text.size() + static_cast<size_t>(length) > kManifestBytes) break;
        text.append(line, static_cast<size_t>(length));
        ++lines;
    }
    return std::vector<char>(text.begin(), text.end());
}

// Best of kRounds, in seconds.
template <typename Work>
double BestSeconds(Work work) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed.count() < best) best = elapsed.count();
    }
    return best;
}

}  // namespace

int main() {
    size_t lines = 0;
    const std::vector<char> bytes = BuildManifest(lines);
    std::printf("manifest: %zu bytes, %zu lines\n", bytes.size(), lines);

    size_t scanned = 0;
    const double scanSeconds = BestSeconds([&] {
        scanned = 0;
        for (char c : bytes) scanned += c == '\n';
    });

    size_t entries = 0;
    bool ok = true;
    const double parseSeconds = BestSeconds([&] {
        Manifest manifest;
        std::wstring error;
        ok = ParseManifest(bytes, manifest, error) && ok;
        entries = manifest.size();
    });
    if (!ok || entries + 1 != lines || scanned != lines) {
        std::printf("FAILED: parsed %zu entries, scanned %zu line ends\n", entries, scanned);
        return 1;
    }

    std::printf("line scan (baseline): %8.2f ms (best of 5)\n", scanSeconds * 1e3);
    std::printf("ParseManifest:        %8.2f ms per parse (best of 5), %.0f lines/s, %.1f MiB/s\n", parseSeconds * 1e3,
                static_cast<double>(lines) / parseSeconds,
                static_cast<double>(bytes.size()) / parseSeconds / (1024.0 * 1024.0));
    std::printf("ratio parse/scan:     %8.1f\n", parseSeconds / scanSeconds);
    return 0;
}
