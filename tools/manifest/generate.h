#pragma once
// zerandis-manifest generate: the manifest of a client folder.

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "tree_scan.h"

struct GenerateResult {
    std::string text;                  // the manifest; empty when anything was refused
    size_t fileCount = 0;
    std::vector<TreeProblem> refused;  // every file or folder the patcher could not take
    std::string error;                 // the folder itself cannot be read
    std::vector<std::string> longPaths;  // listed, but long enough to trouble a player (see LongPathWarning)
};

// A typical install folder, "C:\\Users\\<name>\\AppData\\Local\\Programs\\Zerandis\\",
// is about this long; players choose deeper ones too.
inline constexpr size_t kTypicalInstallFolderLength = 60;
// Past this full length other programs (archivers, backup tools, the game
// itself) may fail on the file although the patcher manages it.
inline constexpr size_t kLongFullPathLength = 200;

// True when `path` (relative, UTF-8) below a typical install folder passes
// kLongFullPathLength characters, counted as Windows counts them (UTF-16 units).
bool IsLongBelowTypicalFolder(const std::string& path);

// Lists and hashes every file of `root`. Names are checked before anything
// is hashed, so a refusal comes quickly. Progress goes to `progress` when given.
GenerateResult BuildManifest(const std::filesystem::path& root, const ScanOptions& options,
                             std::chrono::system_clock::time_point now, std::ostream* progress);

// The whole command: refusals on `err` (one line per problem), the manifest
// on `out` or atomically into line.manifest. Returns an ExitCode.
int RunGenerate(const CommandLine& line, std::chrono::system_clock::time_point now, std::ostream& out,
                std::ostream& err, bool showProgress);
