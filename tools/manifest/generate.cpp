#include "generate.h"

#include <algorithm>

#include "file_digest.h"
#include "manifest_text.h"
#include "output_file.h"
#include "path_rules.h"
#include "progress.h"

namespace fs = std::filesystem;

namespace {

// Opening each file is cheap next to hashing it, and lets a refusal name the
// unreadable files together with the badly named ones.
void AddUnreadable(const std::vector<TreeFile>& files, std::vector<TreeProblem>& refused) {
    for (const TreeFile& file : files) {
        std::string reason;
        if (!CanOpenForReading(file.location, reason)) {
            refused.push_back({Printable(file.path), "cannot be read: " + reason});
        }
    }
}

}  // namespace

bool IsLongBelowTypicalFolder(const std::string& path) {
    size_t units = 0;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80) ++units;  // a character starts here
        if (byte >= 0xF0) ++units;           // beyond the BMP: a surrogate pair
    }
    return kTypicalInstallFolderLength + units > kLongFullPathLength;
}

GenerateResult BuildManifest(const fs::path& root, const ScanOptions& options,
                             std::chrono::system_clock::time_point now, std::ostream* progress) {
    GenerateResult result;
    TreeScan scan;
    if (!ScanTree(root, options, scan, result.error)) return result;
    result.refused = std::move(scan.problems);
    for (TreeProblem& problem : CaseCollisions(scan.files)) result.refused.push_back(std::move(problem));
    // The name checks imply the patcher's rules; this keeps it so.
    if (result.refused.empty()) {
        std::vector<ListedFile> names;
        for (const TreeFile& file : scan.files) {
            if (!IsManifestPath(file.path)) result.refused.push_back({Printable(file.path), "a path the patcher refuses"});
            names.push_back({file.path, 0, {}});
        }
        std::string path, reason;
        if (FindNameFault(names, path, reason)) result.refused.push_back({path, reason});
    }
    if (scan.files.empty() && result.refused.empty()) {
        result.refused.push_back({".", "no file to list (the patcher refuses an empty manifest)"});
    }
    if (!result.refused.empty()) {
        AddUnreadable(scan.files, result.refused);
        std::stable_sort(result.refused.begin(), result.refused.end(),
                         [](const TreeProblem& a, const TreeProblem& b) { return a.path < b.path; });
        return result;
    }

    std::sort(scan.files.begin(), scan.files.end(),
              [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
    uint64_t totalBytes = 0;
    for (const TreeFile& file : scan.files) totalBytes += file.size;
    ProgressReport report(progress, scan.files.size(), totalBytes);
    std::vector<ListedFile> listed;
    for (const TreeFile& file : scan.files) {
        FileDigest digest;
        std::string reason;
        if (!DigestFile(file.location, [&](uint64_t bytes) { report.AddBytes(bytes); }, digest, reason)) {
            result.refused.push_back({Printable(file.path), "cannot be read: " + reason});
        } else if (digest.size != file.size) {
            result.refused.push_back({Printable(file.path), "changed while it was being read"});
        } else {
            listed.push_back({file.path, digest.size, digest.md5});
            if (IsLongBelowTypicalFolder(file.path)) result.longPaths.push_back(Printable(file.path));
        }
        report.FileDone();
    }
    report.Finish();
    if (!result.refused.empty()) return result;
    result.fileCount = listed.size();
    result.text = FormatManifest(std::move(listed), now);
    return result;
}

int RunGenerate(const CommandLine& line, std::chrono::system_clock::time_point now, std::ostream& out,
                std::ostream& err, bool showProgress) {
    ScanOptions options;
    options.includeLocalConfig = line.includeLocalConfig;
    if (!line.manifest.empty()) {
        std::error_code ec;
        options.skipFile = fs::weakly_canonical(fs::absolute(line.manifest, ec), ec);
    }
    const GenerateResult result = BuildManifest(line.clientDir, options, now, showProgress ? &err : nullptr);
    if (!result.error.empty()) {
        err << "zerandis-manifest: " << result.error << "\n";
        return kExitUsage;
    }
    if (!result.refused.empty()) {
        for (const TreeProblem& problem : result.refused) {
            err << "refused: " << problem.path << ": " << problem.reason << "\n";
        }
        err << "zerandis-manifest: " << result.refused.size() << (result.refused.size() == 1 ? " problem" : " problems")
            << ", no manifest written\n";
        return kExitDifferences;
    }
    // Listed all the same: the patcher itself handles long paths.
    for (const std::string& path : result.longPaths) {
        err << "warning: " << path << ": longer than " << kLongFullPathLength << " characters below a typical "
            << kTypicalInstallFolderLength << "-character install folder; other programs may fail to open it\n";
    }
    std::string error;
    if (line.manifest.empty()) {
        out << result.text;
        out.flush();
        if (!out) {
            err << "zerandis-manifest: cannot write to standard output\n";
            return kExitUsage;
        }
    } else if (!WriteFileAtomically(line.manifest, result.text, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    if (!line.quiet) {
        err << "zerandis-manifest: " << result.fileCount << (result.fileCount == 1 ? " file" : " files") << " listed"
            << (line.manifest.empty() ? "" : " in " + Printable(NameBytes(line.manifest))) << "\n";
    }
    return kExitOk;
}
