#pragma once
// zerandis-manifest verify: does a client folder hold what a manifest lists?

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "tree_scan.h"

struct Difference {
    std::string kind;    // "missing", "size", "md5", "unreadable", "not a file", "folder path", "unlisted"
    std::string path;    // printable
    std::string detail;  // what was expected and found; may be empty
};

struct VerifyResult {
    std::vector<Difference> differences;  // listed entries in manifest order, then unlisted files by path
    size_t listed = 0;                    // entries in the manifest
    std::string manifestFault;            // why the patcher would stop reading the manifest
    std::string error;                    // the folder itself cannot be read
};

// Checks every entry of `manifest` (the file's bytes) against `root` by size,
// then MD5, and looks for files the manifest does not list (the generator's
// exclusions apply, and options.skipFile is the manifest itself).
VerifyResult VerifyTree(const std::filesystem::path& root, std::string_view manifest, const ScanOptions& options,
                        std::ostream* progress);

// The whole command: one line per difference on `out`, a summary on `err`
// unless quiet. Returns an ExitCode.
int RunVerify(const CommandLine& line, std::ostream& out, std::ostream& err, bool showProgress);
