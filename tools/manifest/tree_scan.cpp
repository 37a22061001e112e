#include "tree_scan.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "path_rules.h"

namespace fs = std::filesystem;

namespace {

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 0x20);
    }
    return lower;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// Both paths canonical: `path` lies strictly below `root`.
bool IsInside(const fs::path& path, const fs::path& root) {
    const auto [r, p] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return r == root.end() && p != path.end();
}

struct Walk {
    const fs::path& root;  // canonical
    const ScanOptions& options;
    TreeScan& scan;
    std::vector<std::pair<fs::path, std::string>> pending;  // folders still to read, with their paths

    void Problem(const std::string& path, const std::string& reason) {
        scan.problems.push_back({Printable(path), reason});
    }

    void CheckName(const std::string& name, const std::string& path, bool first) {
        for (const std::string& reason : NameProblems(name, first)) Problem(path, reason);
    }

    void Visit(const fs::directory_entry& entry, const std::string& prefix) {
        const std::string name = NameBytes(entry.path().filename());
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        const bool first = prefix.empty();
        std::error_code ec;
        fs::file_status status = entry.symlink_status(ec);
        if (ec) return Problem(path, "cannot be examined: " + ec.message());
        if (fs::is_symlink(status)) {
            const fs::path target = fs::canonical(entry.path(), ec);
            if (ec) return Problem(path, "symbolic link that leads nowhere");
            if (!IsInside(target, root)) {
                return Problem(path, "symbolic link that leads out of the client folder (to " +
                                         Printable(NameBytes(target)) + ")");
            }
            status = fs::status(target, ec);
            if (ec) return Problem(path, "cannot be examined: " + ec.message());
            // Following it would list the folder's files twice, or forever for
            // a link to a parent; the patcher would make real copies anyway.
            if (fs::is_directory(status)) {
                return Problem(path, "symbolic link to a folder (copy the folder in, or remove the link)");
            }
        }
        if (fs::is_directory(status)) {
            CheckName(name, path, first);
            pending.emplace_back(entry.path(), path);
            return;
        }
        if (!fs::is_regular_file(status)) return Problem(path, "not a regular file (device, pipe or socket)");
        if (IsExcluded(path, options.includeLocalConfig)) return;
        // The manifest and its signature are published beside the files, not as files.
        if (!options.skipFile.empty() &&
            (entry.path() == options.skipFile || entry.path() == (fs::path(options.skipFile) += ".sig"))) {
            return;
        }
        CheckName(name, path, first);
        const uint64_t size = fs::file_size(entry.path(), ec);
        if (ec) return Problem(path, "cannot be read: " + ec.message());
        scan.files.push_back({path, entry.path(), size});
    }

    void ReadFolder(const fs::path& folder, const std::string& prefix) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) Visit(*it, prefix);
        if (ec) Problem(prefix.empty() ? "." : prefix, "cannot list the folder: " + ec.message());
    }
};

}  // namespace

bool IsExcluded(std::string_view path, bool includeLocalConfig) {
    const std::string lower = AsciiLower(path);
    if (EndsWith(lower, ".new") || IsPatcherOwnFile(path)) return true;
    if (lower.find('/') != std::string::npos) return false;
    return lower == "manifest.md5" || lower == "manifest.md5.sig" || (!includeLocalConfig && lower == "patcher.ini");
}

bool ScanTree(const fs::path& root, const ScanOptions& options, TreeScan& scan, std::string& error) {
    std::error_code ec;
    const fs::path base = fs::canonical(root, ec);
    if (!ec && !fs::is_directory(base, ec) && !ec) ec = std::make_error_code(std::errc::not_a_directory);
    if (!ec) fs::directory_iterator probe(base, ec);
    if (ec) {
        error = Printable(NameBytes(root)) + ": " + ec.message();
        return false;
    }
    Walk walk{base, options, scan, {}};
    walk.ReadFolder(base, "");
    while (!walk.pending.empty()) {
        const auto [folder, prefix] = std::move(walk.pending.back());
        walk.pending.pop_back();
        walk.ReadFolder(folder, prefix);
    }
    return true;
}

std::vector<TreeProblem> CaseCollisions(const std::vector<TreeFile>& files) {
    std::vector<std::string> paths;
    for (const TreeFile& file : files) {
        if (IsValidUtf8(file.path)) paths.push_back(file.path);
    }
    std::sort(paths.begin(), paths.end());
    std::map<std::string, std::string> seen;  // folded path or folder -> the first spelling met
    std::set<std::pair<std::string, std::string>> reported;
    std::vector<TreeProblem> problems;
    for (const std::string& path : paths) {
        for (size_t end = path.find('/');; end = path.find('/', end + 1)) {
            const std::string prefix = path.substr(0, end);
            const auto [it, added] = seen.emplace(FoldCase(prefix), prefix);
            if (!added && it->second != prefix && reported.emplace(it->second, prefix).second) {
                problems.push_back({Printable(prefix), "differs from " + Printable(it->second) +
                                                           " only in letter case (one name on Windows)"});
            }
            if (end == std::string::npos) break;
        }
    }
    return problems;
}

#ifdef _WIN32

fs::path PathFromUtf8(std::string_view utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// UTF-16 to UTF-8; an unpaired surrogate is encoded on its own, which makes
// the result invalid UTF-8 and so a refused name rather than a changed one.
std::string NameBytes(const fs::path& name) {
    const std::wstring& wide = name.native();
    std::string bytes;
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[++i]) - 0xDC00);
        }
        AppendUtf8(bytes, c);
    }
    return bytes;
}

#else

fs::path PathFromUtf8(std::string_view utf8) { return fs::path(std::string(utf8)); }

std::string NameBytes(const fs::path& name) { return name.native(); }

#endif
