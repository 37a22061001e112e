#pragma once
// The command line of zerandis-manifest.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

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

// Reads the arguments (UTF-8, program name not included). Options may stand
// anywhere; "--" ends them. Anything unusable sets `problem`.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string HelpText();

// Carries out `line`: help, usage problem, generate or verify. Progress goes
// to `err` unless quiet, when it is a terminal or on request. Returns an ExitCode.
int RunCommandLine(const CommandLine& line, std::ostream& out, std::ostream& err, bool errIsTerminal);
