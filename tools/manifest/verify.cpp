#include "verify.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "file_digest.h"
#include "manifest_text.h"
#include "path_rules.h"
#include "progress.h"
#include "key_commands.h"
#include "signing.h"

namespace fs = std::filesystem;

namespace {

// The file a path names: empty and "." elements say nothing, and Windows
// matches names whatever their letter case.
std::string FileKey(std::string_view path) {
    std::string key;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view element = path.substr(start, end - start);
        if (!element.empty() && element != ".") key += (key.empty() ? "" : "/") + std::string(element);
        start = end + 1;
    }
#ifdef _WIN32
    key = FoldCase(key);
#endif
    return key;
}

// One listed entry against the disk.
void CheckEntry(const fs::path& root, const ListedFile& entry, ProgressReport& report,
                std::vector<Difference>& differences) {
    const std::string shown = Printable(entry.path);
    if (entry.path.back() == '/') {
        differences.push_back({"folder path", shown, "ends in a separator, so no file can match it"});
        return;
    }
    const fs::path location = root / PathFromUtf8(FileKey(entry.path));
    std::error_code ec;
    const fs::file_status status = fs::status(location, ec);
    if (status.type() == fs::file_type::not_found) {
        differences.push_back({"missing", shown, ""});
        return;
    }
    if (ec) {
        differences.push_back({"unreadable", shown, ec.message()});
        return;
    }
    if (!fs::is_regular_file(status)) {
        differences.push_back({"not a file", shown, ""});
        return;
    }
    const uint64_t size = fs::file_size(location, ec);
    if (!ec && size != entry.size) {
        differences.push_back({"size", shown, "listed " + std::to_string(entry.size) + ", found " + std::to_string(size)});
        return;
    }
    FileDigest digest;
    std::string reason;
    if (ec || !DigestFile(location, [&](uint64_t bytes) { report.AddBytes(bytes); }, digest, reason)) {
        differences.push_back({"unreadable", shown, ec ? ec.message() : reason});
    } else if (digest.size != entry.size) {
        differences.push_back({"size", shown, "listed " + std::to_string(entry.size) + ", found " +
                                                  std::to_string(digest.size)});
    } else if (digest.md5 != entry.md5) {
        differences.push_back({"md5", shown, "listed " + entry.md5 + ", found " + digest.md5});
    }
}

}  // namespace

VerifyResult VerifyTree(const fs::path& root, std::string_view manifest, const ScanOptions& options,
                        std::ostream* progress) {
    VerifyResult result;
    const ParsedManifest parsed = ParseManifestText(manifest);
    result.listed = parsed.entries.size();
    if (parsed.fault != ManifestFault::None) {
        result.manifestFault = DescribeFault(parsed);
        return result;
    }
    std::string faultPath, reason;
    if (FindNameFault(parsed.entries, faultPath, reason)) {
        result.manifestFault = faultPath + " is " + reason;
        return result;
    }
    TreeScan scan;
    if (!ScanTree(root, options, scan, result.error)) return result;

    uint64_t totalBytes = 0;
    for (const ListedFile& entry : parsed.entries) totalBytes += entry.size;
    ProgressReport report(progress, parsed.entries.size(), totalBytes);
    std::set<std::string> listed;
    for (const ListedFile& entry : parsed.entries) {
        CheckEntry(root, entry, report, result.differences);
        listed.insert(FileKey(entry.path));
        report.FileDone();
    }
    report.Finish();

    std::sort(scan.files.begin(), scan.files.end(),
              [](const TreeFile& a, const TreeFile& b) { return a.path < b.path; });
    for (const TreeFile& file : scan.files) {
        if (listed.count(FileKey(file.path)) == 0) result.differences.push_back({"unlisted", Printable(file.path), ""});
    }
    return result;
}

int RunVerify(const CommandLine& line, std::ostream& out, std::ostream& err, bool showProgress) {
    const std::string shownManifest = Printable(NameBytes(line.manifest));
    std::error_code ec;
    if (!fs::is_regular_file(line.manifest, ec)) {
        err << "zerandis-manifest: " << shownManifest << ": " << (ec ? ec.message() : "not a file") << "\n";
        return kExitUsage;
    }
    std::ifstream file(line.manifest, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        err << "zerandis-manifest: cannot read " << shownManifest << "\n";
        return kExitUsage;
    }
    // A missing or bad signature is one more difference, listed first.
    std::vector<Difference> signatureFindings;
    ReleaseStamp stamp;
    if (!line.publicKey.empty()) {
        fs::path signature = line.manifest;
        signature += ".sig";
        std::string finding, error;
        if (!CheckSignatureFile(bytes, signature, line.publicKey, UnixSecondsNow(), stamp, finding, error) &&
            finding.empty()) {
            err << "zerandis-manifest: " << error << "\n";
            return kExitUsage;
        }
        if (!finding.empty()) signatureFindings.push_back({"signature", Printable(NameBytes(signature)), finding});
    }
    ScanOptions options;
    options.skipFile = fs::weakly_canonical(fs::absolute(line.manifest, ec), ec);
    VerifyResult result = VerifyTree(line.clientDir, bytes, options, showProgress ? &err : nullptr);
    result.differences.insert(result.differences.begin(), signatureFindings.begin(), signatureFindings.end());
    if (!result.error.empty()) {
        err << "zerandis-manifest: " << result.error << "\n";
        return kExitUsage;
    }
    if (!result.manifestFault.empty()) {
        out << "manifest: " << shownManifest << ": " << result.manifestFault << "\n";
        return kExitDifferences;
    }
    for (const Difference& difference : result.differences) {
        out << difference.kind << ": " << difference.path;
        if (!difference.detail.empty()) out << " (" << difference.detail << ")";
        out << "\n";
    }
    out.flush();
    if (!line.quiet) {
        if (stamp.release != 0) err << "zerandis-manifest: signed as " << DescribeReleaseStamp(stamp) << "\n";
        err << "zerandis-manifest: " << result.listed << (result.listed == 1 ? " file" : " files") << " listed, ";
        if (result.differences.empty()) {
            err << "all match\n";
        } else {
            err << result.differences.size() << (result.differences.size() == 1 ? " difference\n" : " differences\n");
        }
    }
    return result.differences.empty() ? kExitOk : kExitDifferences;
}
