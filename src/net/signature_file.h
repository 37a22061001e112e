#pragma once
// The manifest's signature file (the manifest's name + ".sig"), free of any
// platform call so that the studio's tool (built on Linux too) writes exactly
// what the patcher reads.
//
// Text, one signature per line (LF, a final CR ignored), blank lines allowed:
//   zerandis-manifest-signature 2 ecdsa-p256-sha256 <release> <expires> <base64 of r || s>
// <release> is the studio's release number (a whole number from 1, at most 18
// digits, no leading zero), <expires> a date YYYY-MM-DD (the signature holds
// until the end of that day, UTC) or "-" for none. r and s are the two 32-byte
// big-endian halves of an ECDSA P-256 signature over the SHA-256 of the
// release statement (ReleaseStatement), which binds the number and the date to
// the SHA-256 of the manifest's bytes exactly as published.
//
// The old format, version 1, has no release:
//   zerandis-manifest-signature 1 ecdsa-p256-sha256 <base64 of r || s>
// signed over the manifest's SHA-256 alone; a keyed patcher no longer accepts
// it, since any old release signed so could be served again. Lines of another
// version or algorithm are skipped, so a later scheme can be added beside
// these; several lines (one per key) let patchers with old and new keys verify
// the same manifest while a studio changes keys.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using SignatureBytes = std::array<unsigned char, 64>;  // r || s, each 32 bytes, big-endian
using Sha256Digest = std::array<unsigned char, 32>;

// What a version-2 line signs besides the manifest.
struct ReleaseStamp {
    std::uint64_t release = 0;  // 0: none (a version-1 line)
    std::string expires;        // "YYYY-MM-DD", or empty for no expiry
};

struct SignatureLine {
    int version = 0;  // 1 or 2
    ReleaseStamp stamp;
    SignatureBytes signature{};
};

// One version-2 line of the file for `stamp` and `signature`, LF included.
std::string FormatSignatureLine(const ReleaseStamp& stamp, const SignatureBytes& signature);

// The bytes a version-2 signature covers (ECDSA over their SHA-256):
// "zerandis-manifest-release <release> <expires or -> <hex SHA-256 of the manifest>\n".
std::string ReleaseStatement(const ReleaseStamp& stamp, const Sha256Digest& manifestDigest);

// Every well-formed ECDSA P-256 line of version 1 or 2, in line order. Lines of
// another version or algorithm are skipped; a malformed line (wrong field
// count, bad release or date, bad base64, not 64 bytes) gives nothing either.
std::vector<SignatureLine> ReadSignatureLines(std::string_view file);

// A release number as the file writes it: 1 to 18 digits, no leading zero, not 0.
bool ParseReleaseNumber(std::string_view text, std::uint64_t& release);

// True for a real calendar date "YYYY-MM-DD" from 1970-01-01 to 9999-12-31.
bool IsExpiryDate(std::string_view date);

// Seconds since 1970-01-01 00:00 UTC at which a signature expiring on `date`
// (valid per IsExpiryDate) lapses: the midnight that ends that day in UTC.
std::int64_t ExpiryInstant(std::string_view date);

// How the tool shows a stamp: "release 7, expires 2026-06-30 (end of the day,
// UTC)" or "release 7, no expiry".
std::string DescribeReleaseStamp(const ReleaseStamp& stamp);
