#pragma once
// What a command line of zerandis-manifest asks for, and the exit codes that
// answer it. Read by cli, carried out by generate, verify, key_commands and check_server.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

enum ExitCode : int {
    kExitOk = 0,           // manifest written / tree matches the manifest
    kExitDifferences = 1,  // files refused, or the tree differs from the manifest
    kExitUsage = 2,        // bad command line, or an input/output error
};

enum class Command { Help, Generate, Verify, Keygen, Sign, CheckServer };

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
    std::string baseUrl;                        // check-server: the server's BASE_URL
    std::string manifestName = "manifest.md5";  // check-server: --manifest, the patcher's MANIFEST
    std::filesystem::path caFile;               // check-server: --ca, a private CA trusted besides the system's
    std::filesystem::path changedSince;         // check-server: --changed-since, the manifest published before
    size_t jobs = 4;                            // check-server: --jobs, files fetched at once
    std::string problem;               // why the arguments cannot be used; empty when they can
};
