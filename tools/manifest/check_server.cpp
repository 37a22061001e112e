#include "check_server.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <set>

#include "http_fetch.h"
#include "key_commands.h"
#include "manifest_text.h"
#include "md5.h"
#include "net/url_encoding.h"
#include "path_rules.h"
#include "progress.h"
#include "signing.h"
#include "tree_scan.h"
#include "verify.h"

namespace {

constexpr size_t kMaxManifestBytes = 16 * 1024 * 1024;  // the patcher's limit for a body in memory

// What one listed file's first attempt brought.
struct FileCheck {
    const ListedFile* entry = nullptr;
    Md5Hasher md5;
    uint64_t received = 0;  // bytes of a successful response's body
    bool tooLong = false;   // stopped once past the listed size
    HttpAnswer answer;
};

bool IsSuccess(long status) { return status >= 200 && status <= 299; }

// A number that differs from run to run, as the patcher's tick count does.
std::string TickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::string AnswerText(const HttpAnswer& answer) {
    if (answer.status == 0) return answer.error;
    return "HTTP " + std::to_string(answer.status) + (answer.error.empty() ? "" : ", " + answer.error);
}

std::string BaseUrl(const std::string& url) { return url.back() == '/' ? url : url + "/"; }

// A player's first attempt at `entry`: the edge keys its copy by the md5.
std::string FirstAttemptUrl(const std::string& base, const ListedFile& entry, const std::string& tick) {
    const std::string url = AppendQueryBytes(base + FileUrlPath(entry.path), "md5", entry.md5);
    return AppendQueryBytes(url, "attempt", "1-" + tick);
}

bool ReadFileBytes(const std::filesystem::path& path, std::string& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.is_open() && (file || file.eof())) return true;
    error = "cannot read " + Printable(NameBytes(path));
    return false;
}

// The lines of the manifest at `path`, each as "md5 size path".
bool ReadOldLines(const std::filesystem::path& path, std::set<std::string>& lines, std::string& error) {
    std::string bytes;
    if (!ReadFileBytes(path, bytes, error)) return false;
    const ParsedManifest parsed = ParseManifestText(bytes);
    if (parsed.fault != ManifestFault::None) {
        error = Printable(NameBytes(path)) + ": " + DescribeFault(parsed);
        return false;
    }
    for (const ListedFile& entry : parsed.entries) {
        lines.insert(entry.md5 + " " + std::to_string(entry.size) + " " + entry.path);
    }
    return true;
}

// The entries to fetch: all, or with --changed-since those whose line is new.
bool SelectEntries(const CommandLine& line, const ParsedManifest& live, std::vector<const ListedFile*>& selected,
                   std::string& error) {
    std::set<std::string> old;
    if (!line.changedSince.empty() && !ReadOldLines(line.changedSince, old, error)) return false;
    for (const ListedFile& entry : live.entries) {
        if (old.count(entry.md5 + " " + std::to_string(entry.size) + " " + entry.path) == 0) selected.push_back(&entry);
    }
    return true;
}

// The .sig as a keyed patcher fetches it; a finding when it is missing or bad.
// False with `error` set when it could not be checked at all.
bool CheckLiveSignature(HttpClient& client, const CommandLine& line, const std::string& url,
                        const std::string& manifest, std::vector<Difference>& findings, std::ostream& err,
                        std::string& error) {
    std::string file;
    const HttpAnswer answer = client.Fetch(url, file, kMaxManifestBytes);
    if (answer.status == 0) {
        error = "cannot fetch " + url + ": " + answer.error;
        return false;
    }
    std::string finding;
    if (!answer.complete || !IsSuccess(answer.status)) {
        finding = "not served: " + AnswerText(answer);
    } else if (ReleaseStamp stamp; CheckSignatureBytes(manifest, file, line.publicKey, UnixSecondsNow(), stamp,
                                                       finding, error)) {
        err << "zerandis-manifest: signed as " << DescribeReleaseStamp(stamp) << "\n";
    } else if (finding.empty()) {
        return false;
    }
    if (!finding.empty()) findings.push_back({"signature", Printable(line.manifestName + ".sig"), finding});
    return true;
}

// A piece of a file's body: counted and hashed, or the body stopped once it
// passes the listed size. An error page's body is read and dropped.
bool TakePiece(FileCheck& check, long status, std::string_view piece, ProgressReport& report) {
    if (!IsSuccess(status)) return true;
    check.received += piece.size();
    report.AddBytes(piece.size());
    if (check.received > check.entry->size) {
        check.tooLong = true;
        return false;
    }
    check.md5.Update(piece.data(), piece.size());
    return true;
}

// What came for one file against what is listed; an empty kind when right.
Difference Judge(FileCheck& check) {
    const ListedFile& entry = *check.entry;
    const HttpAnswer& answer = check.answer;
    const std::string shown = Printable(entry.path);
    const std::string expected = "expected " + std::to_string(entry.size) + " bytes, md5 " + entry.md5 + "; got ";
    if (answer.status == 0) return {"no answer", shown, expected + answer.error};
    if (!IsSuccess(answer.status)) return {"status", shown, expected + "HTTP " + std::to_string(answer.status)};
    const std::string got = expected + "HTTP " + std::to_string(answer.status) + ", ";
    if (check.tooLong) return {"size", shown, got + "more than " + std::to_string(entry.size) + " bytes"};
    if (!answer.complete) {
        return {"broken", shown, got + std::to_string(check.received) + " bytes, then " + answer.error};
    }
    std::string md5;
    if (!check.md5.Finish(md5)) return {"no answer", shown, got + "a body that could not be hashed"};
    const std::string came = got + std::to_string(check.received) + " bytes, md5 " + md5;
    if (check.received != entry.size) return {"size", shown, came};
    if (md5 != entry.md5) return {"md5", shown, came};
    return {};
}

// Fetches every selected file by its first attempt's URL, `jobs` at a time.
bool FetchFiles(HttpClient& client, const std::string& base, size_t jobs, std::vector<FileCheck>& checks,
                std::ostream* progress, std::string& error) {
    uint64_t totalBytes = 0;
    for (const FileCheck& check : checks) totalBytes += check.entry->size;
    ProgressReport report(progress, checks.size(), totalBytes);
    const std::string tick = TickCount();
    std::vector<Download> downloads(checks.size());
    for (size_t i = 0; i < checks.size(); ++i) {
        FileCheck& check = checks[i];
        downloads[i].url = FirstAttemptUrl(base, *check.entry, tick);
        downloads[i].onBody = [&check, &report](long status, std::string_view piece) {
            return TakePiece(check, status, piece, report);
        };
        downloads[i].onEnd = [&check, &report](const HttpAnswer& answer) {
            check.answer = answer;
            report.FileDone();
        };
    }
    const bool ok = client.FetchAll(downloads, jobs, error);
    report.Finish();
    return ok;
}

// The findings, one per line, and the summary. Returns the exit code.
int Report(const std::vector<Difference>& findings, size_t listed, size_t checked, std::ostream& out) {
    size_t unanswered = 0;
    for (const Difference& finding : findings) {
        out << finding.kind << ": " << finding.path << " (" << finding.detail << ")\n";
        unanswered += finding.kind == "no answer" ? 1 : 0;
    }
    const size_t wrong = findings.size() - unanswered;
    out << "check-server: " << listed << (listed == 1 ? " file" : " files") << " listed, " << checked << " checked, ";
    if (findings.empty()) out << "all right\n";
    if (wrong > 0) out << wrong << " wrong" << (unanswered > 0 ? ", " : "\n");
    if (unanswered > 0) out << unanswered << " not answered\n";
    out.flush();
    if (wrong > 0) return kExitDifferences;
    return unanswered > 0 ? kExitUsage : kExitOk;
}

// The live manifest: fetched as the patcher fetches it, signature checked.
// False with `error` set when there is nothing to check against.
bool FetchLiveManifest(HttpClient& client, const CommandLine& line, const std::string& base, std::string& bytes,
                       std::vector<Difference>& findings, std::ostream& err, std::string& error) {
    const std::string url = base + FileUrlPath(line.manifestName);
    const std::string tick = TickCount();
    const HttpAnswer answer = client.Fetch(AppendQueryBytes(url, "nocache", tick), bytes, kMaxManifestBytes);
    if (!answer.complete || !IsSuccess(answer.status)) {
        error = "cannot fetch " + url + ": " + AnswerText(answer);
        return false;
    }
    if (line.publicKey.empty()) return true;
    return CheckLiveSignature(client, line, AppendQueryBytes(url + ".sig", "nocache", tick), bytes, findings, err,
                              error);
}

}  // namespace

int RunCheckServer(const CommandLine& line, std::ostream& out, std::ostream& err, bool showProgress) {
    HttpClient client;
    const std::string base = BaseUrl(line.baseUrl);
    std::string bytes, error;
    std::vector<Difference> findings;
    if ((!line.caFile.empty() && !client.TrustCa(line.caFile.string(), error)) ||
        !FetchLiveManifest(client, line, base, bytes, findings, err, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    const ParsedManifest live = ParseManifestText(bytes);
    if (live.fault != ManifestFault::None) {
        out << "manifest: " << Printable(line.manifestName) << ": " << DescribeFault(live) << "\n";
        return kExitDifferences;
    }
    std::vector<const ListedFile*> selected;
    if (!SelectEntries(line, live, selected, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    std::vector<FileCheck> checks(selected.size());
    for (size_t i = 0; i < selected.size(); ++i) checks[i].entry = selected[i];
    if (!FetchFiles(client, base, line.jobs, checks, showProgress ? &err : nullptr, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    for (FileCheck& check : checks) {
        Difference finding = Judge(check);
        if (!finding.kind.empty()) findings.push_back(std::move(finding));
    }
    return Report(findings, live.entries.size(), checks.size(), out);
}
