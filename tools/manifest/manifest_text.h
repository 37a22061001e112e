#pragma once
// The manifest file: written here in one canonical form, read by the same
// rules as the patcher (which is the only reader that matters).

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One listed file.
struct ListedFile {
    std::string path;  // relative, UTF-8, "/" separators
    uint64_t size = 0;
    std::string md5;   // 32 lower-case hexadecimal digits
};

// The manifest text: a "#" comment with the generation time (UTC, ISO 8601)
// and the file count, then "md5 size path" per file, sorted by the bytes of
// the paths. UTF-8 without BOM, LF line ends.
std::string FormatManifest(std::vector<ListedFile> files, std::chrono::system_clock::time_point generatedAt);

// Where the patcher would stop reading a manifest.
enum class ManifestFault {
    None,
    Line,   // not three fields
    Size,   // size field not a number of 64 bits
    Entry,  // md5 not 32 hexadecimal digits, or the path breaks the path rule
    Empty,  // no entry at all
};

struct ParsedManifest {
    std::vector<ListedFile> entries;  // in file order; paths with "\" turned into "/"
    ManifestFault fault = ManifestFault::None;
    size_t faultLine = 0;  // 1-based, every line counted
};

// Reads manifest bytes like the patcher: a leading UTF-8 BOM skipped, LF or
// CR LF, "#" in the first column and blank lines skipped, md5 / size / path
// separated by runs of spaces and tabs (the path keeps inner and trailing
// blanks), upper-case digests accepted and lowered. Stops at the first bad line.
ParsedManifest ParseManifestText(std::string_view bytes);

// The first entry whose name the patcher refuses before it touches a file
// (net/manifest_names.h; the running patcher's own ".new" name aside, which
// only it knows): false with nothing set when there is none, else true with
// the entry's printable path and the reason, with the Polish text the patcher shows.
bool FindNameFault(const std::vector<ListedFile>& entries, std::string& path, std::string& reason);

// What the fault means, in English, with the Polish text the patcher logs for it.
std::string DescribeFault(const ParsedManifest& parsed);
