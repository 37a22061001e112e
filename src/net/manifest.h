#pragma once
// The update server's list of client files: one "md5 size path" line per file,
// UTF-8, LF or CR LF line ends, "#" in the first column for comments.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/manifest_fields.h"

// One file of the installation.
struct ManifestEntry {
    std::wstring md5;   // 32 lower-case hexadecimal digits
    uint64_t size = 0;  // length in bytes
    std::wstring path;  // relative to the game directory, backslash separators, passes IsValidManifestPath
};

// The entries in the order of their lines in the file.
using Manifest = std::vector<ManifestEntry>;

// Parses the manifest's bytes and appends its entries to `manifest` (never
// cleared). False with `error` set for the first bad line or for a manifest
// without entries; the entries before the bad line stay appended.
bool ParseManifest(const std::vector<char>& bytes, Manifest& manifest, std::wstring& error);

// True for a non-empty relative path that cannot leave the game directory:
// no leading separator, no ":" or NUL, no ".." element (nor one of dots and spaces
// that Windows would resolve like ".."). The shared rule, IsManifestPath in
// net/manifest_names.h, on the path's UTF-8 form.
bool IsValidManifestPath(const std::wstring& path);
