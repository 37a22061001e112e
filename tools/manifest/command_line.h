#pragma once
// What a command line of zerandis-manifest asks for, and the exit codes that
// answer it. Read by cli, carried out by generate and verify.

#include <filesystem>
#include <string>

enum ExitCode : int {
    kExitOk = 0,           // manifest written / tree matches the manifest
    kExitDifferences = 1,  // files refused, or the tree differs from the manifest
    kExitUsage = 2,        // bad command line, or an input/output error
};

enum class Command { Help, Generate, Verify };

struct CommandLine {
    Command command = Command::Help;
    std::filesystem::path clientDir;
    std::filesystem::path manifest;    // generate: the -o file (empty: standard output); verify: MANIFEST
    bool includeLocalConfig = false;   // generate: list the top-level patcher.ini
    bool quiet = false;                // -q: no progress, no summary
    bool forceProgress = false;        // --progress: progress even when standard error is no terminal
    std::string problem;               // why the arguments cannot be used; empty when they can
};
