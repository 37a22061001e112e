#pragma once
// Walks a client directory: the files a manifest lists, the files it leaves
// out on purpose, and everything the patcher could not take.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct TreeFile {
    std::string path;                  // relative, "/" separators, the names' bytes (UTF-8 unless refused)
    std::filesystem::path location;    // where to read it (a link inside the tree is read through)
    uint64_t size = 0;
};

struct TreeProblem {
    std::string path;    // printable (see Printable)
    std::string reason;
};

struct ScanOptions {
    bool includeLocalConfig = false;   // list the top-level patcher.ini as well
    std::filesystem::path skipFile;    // the manifest being written or checked, when it lies in the tree
};

struct TreeScan {
    std::vector<TreeFile> files;         // every regular file not excluded, problems or not
    std::vector<TreeProblem> problems;   // names, links, special and unreadable objects
};

// True for what is never listed: the manifest at the top ("manifest.md5") and
// its signature ("manifest.md5.sig"), "*.new" leftovers anywhere, the files
// the patcher keeps for itself (IsPatcherOwnFile: its log, crash dump, release
// state, staging files), and the top-level "patcher.ini" unless `includeLocalConfig`.
// Letter case does not matter (on Windows they are the same files).
bool IsExcluded(std::string_view path, bool includeLocalConfig);

// Walks `root`. Symbolic links to files inside the tree are listed under the
// link's name; links that leave the tree, dangling links and links to
// directories are problems. False with `error` set when `root` is not a
// readable directory.
bool ScanTree(const std::filesystem::path& root, const ScanOptions& options, TreeScan& scan, std::string& error);

// Paths that Windows would take for one file or folder because they differ
// only in letter case, one problem per path involved.
std::vector<TreeProblem> CaseCollisions(const std::vector<TreeFile>& files);

// A manifest's UTF-8 path as a path of this system, and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string NameBytes(const std::filesystem::path& name);
