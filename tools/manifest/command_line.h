#pragma once
// What a command line of zerandis-manifest asks for, and the exit codes that
// answer it. Read by cli, carried out by generate, verify and key_commands.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

enum ExitCode : int {
    kExitOk = 0,           // manifest written / tree matches the manifest
    kExitDifferences = 1,  // files refused, or the tree differs from the manifest
    kExitUsage = 2,        // bad command line, or an input/output error
};

enum class Command { Help, Generate, Verify, Keygen, Sign };

struct CommandLine {
    Command command = Command::Help;
    std::filesystem::path clientDir;
    std::filesystem::path manifest;    // generate: the -o file (empty: standard output); verify, sign: MANIFEST
    std::filesystem::path privateKey;  // keygen: PRIVATE.pem to create
    std::filesystem::path publicKey;   // keygen: --public file to create; verify: --public-key keys to check with
    std::vector<std::filesystem::path> signingKeys;  // sign: every --key, one signature line each
    std::uint64_t release = 0;         // sign: --release, the studio's release number (0: not given)
    std::string expires;               // sign: --expires YYYY-MM-DD; empty for none
    bool includeLocalConfig = false;   // generate: list the top-level patcher.ini
    bool quiet = false;                // -q: no progress, no summary
    bool forceProgress = false;        // --progress: progress even when standard error is no terminal
    std::string problem;               // why the arguments cannot be used; empty when they can
};
