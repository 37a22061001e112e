#include "manifest_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <unordered_set>

#include "net/manifest_fields.h"
#include "path_rules.h"

namespace {

// 32 hexadecimal digits of either case, returned lowered in `md5`.
bool ReadDigest(std::string_view field, std::string& md5) {
    if (field.size() != 32) return false;
    md5.clear();
    for (char c : field) {
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c + 0x20);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
        md5 += c;
    }
    return true;
}

ManifestFault ParseEntryLine(std::string_view line, ListedFile& entry) {
    ManifestFields fields;
    if (!SplitManifestFields(line, fields)) return ManifestFault::Line;
    if (!ParseManifestSize(fields.size, entry.size)) return ManifestFault::Size;
    const std::string_view path = fields.path;
    // The patcher decodes each field strictly: ill-formed UTF-8 empties the
    // field, which then fails as an entry.
    if (!ReadDigest(fields.md5, entry.md5) || !IsValidUtf8(path) || !IsManifestPath(path)) {
        return ManifestFault::Entry;
    }
    entry.path.assign(path);
    std::replace(entry.path.begin(), entry.path.end(), '\\', '/');
    return ManifestFault::None;
}

std::string IsoUtc(std::chrono::system_clock::time_point at) {
    using namespace std::chrono;
    const auto day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(at - day)};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text.data();
}

}  // namespace

std::string FormatManifest(std::vector<ListedFile> files, std::chrono::system_clock::time_point generatedAt) {
    std::sort(files.begin(), files.end(),
              [](const ListedFile& a, const ListedFile& b) { return a.path < b.path; });
    std::string text = "# zerandis-manifest " + IsoUtc(generatedAt) + ", " + std::to_string(files.size()) +
                       (files.size() == 1 ? " file\n" : " files\n");
    for (const ListedFile& file : files) {
        text += file.md5 + " " + std::to_string(file.size) + " " + file.path + "\n";
    }
    return text;
}

ParsedManifest ParseManifestText(std::string_view text) {
    ParsedManifest parsed;
    text = WithoutUtf8Bom(text);
    size_t lineNumber = 0;
    std::string_view line;
    while (NextEntryLine(text, line, lineNumber)) {
        ListedFile entry;
        const ManifestFault fault = ParseEntryLine(line, entry);
        if (fault != ManifestFault::None) {
            parsed.fault = fault;
            parsed.faultLine = lineNumber;
            return parsed;
        }
        parsed.entries.push_back(std::move(entry));
    }
    if (parsed.entries.empty()) parsed.fault = ManifestFault::Empty;
    return parsed;
}

bool FindNameFault(const std::vector<ListedFile>& entries, std::string& path, std::string& reason) {
    std::unordered_set<std::string> seen;
    for (const ListedFile& entry : entries) {
        ListedNameFacts facts;
        facts.listedBefore = !seen.insert(StoredNameKey(entry.path)).second;
        const ListedNameFault fault = JudgeListedName(entry.path, facts);
        if (fault == ListedNameFault::None) continue;
        std::string patcherPath = entry.path;  // as the patcher shows it
        std::replace(patcherPath.begin(), patcherPath.end(), '/', '\\');
        path = Printable(entry.path);
        const std::string shown = Printable(patcherPath);
        switch (fault) {
            case ListedNameFault::Log:
                reason = "the patcher's log (the patcher logs \"Lista plików nie może zastępować dziennika patcher.txt.\")";
                break;
            case ListedNameFault::Staging:
                reason = "a staging name (the patcher logs \"Lista plików zawiera nazwę pliku tymczasowego: " + shown + "\")";
                break;
            case ListedNameFault::Twice:
                reason = "the same file as an entry before it (the patcher logs \"Lista plików wymienia ten sam plik "
                         "więcej niż raz: " + shown + "\")";
                break;
            default:
                reason = "a name Windows cannot keep or the patcher keeps for itself (the patcher logs \"Lista plików "
                         "zawiera niedozwoloną nazwę: " + shown + "\")";
                break;
        }
        return true;
    }
    return false;
}

std::string DescribeFault(const ParsedManifest& parsed) {
    const std::string n = std::to_string(parsed.faultLine);
    switch (parsed.fault) {
        case ManifestFault::None:
            return {};
        case ManifestFault::Line:
            return "line " + n + " is not \"md5 size path\" (the patcher logs \"Błędna linia manifestu: " + n + "\")";
        case ManifestFault::Size:
            return "line " + n + " has no valid 64-bit size (the patcher logs \"Błędny rozmiar w linii manifestu: " +
                   n + "\")";
        case ManifestFault::Entry:
            return "line " + n + " has a bad md5 or a path the patcher refuses (the patcher logs " +
                   "\"Nieprawidłowy wpis manifestu w linii " + n + "\")";
        case ManifestFault::Empty:
            return "no file is listed (the patcher logs \"Manifest nie zawiera żadnych plików.\")";
    }
    return {};
}
