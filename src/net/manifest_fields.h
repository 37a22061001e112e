#pragma once
// The byte-level rules of one manifest line, free of any platform call so that
// the studio's manifest tool (built on Linux too) reads lines exactly as the
// patcher does.

#include <cstddef>
#include <cstdint>
#include <string_view>

// The manifest's text without a leading UTF-8 byte-order mark.
std::string_view WithoutUtf8Bom(std::string_view text);

// Takes lines off the front of `text` (split at LF, one final CR removed),
// counting every line in `lineNumber`, until an entry line: not empty and not
// a "#" comment. False when the text ends first.
bool NextEntryLine(std::string_view& text, std::string_view& line, std::size_t& lineNumber);

// The three fields of an entry line, as views into it.
struct ManifestFields {
    std::string_view md5;   // from the start up to the first blank or tab
    std::string_view size;  // the next run of non-blanks
    std::string_view path;  // from the next non-blank to the end, inner and trailing blanks kept
};

// Splits an entry line (not empty, not a comment) at runs of spaces and tabs.
// False when it does not have the three fields.
bool SplitManifestFields(std::string_view line, ManifestFields& fields);

// Reads an optional sign and decimal digits from the start of `field`, stopping
// at the first non-digit; "-" negates modulo 2^64. False when there is no digit
// or the value exceeds 18446744073709551615.
bool ParseManifestSize(std::string_view field, std::uint64_t& size);
