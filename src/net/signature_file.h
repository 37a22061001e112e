#pragma once
// The manifest's signature file (the manifest's name + ".sig"), free of any
// platform call so that the studio's tool (built on Linux too) writes exactly
// what the patcher reads.
//
// Text, one signature per line (LF, a final CR ignored), blank lines allowed:
//   zerandis-manifest-signature 1 ecdsa-p256-sha256 <base64 of r || s>
// r and s are the two 32-byte big-endian halves of an ECDSA P-256 signature
// over the SHA-256 of the manifest's bytes exactly as published. Lines of
// another version or algorithm are skipped, so a later scheme can be added
// beside this one; several lines (one per key) let old and new patchers
// verify the same manifest while a studio changes keys.

#include <array>
#include <string>
#include <string_view>
#include <vector>

using SignatureBytes = std::array<unsigned char, 64>;  // r || s, each 32 bytes, big-endian

// One line of the file for `signature`, LF included.
std::string FormatSignatureLine(const SignatureBytes& signature);

// Every version-1 ECDSA P-256 signature the file holds, in line order. Lines of
// another version or algorithm are skipped; a version-1 line that is malformed
// (wrong field count, bad base64, not 64 bytes) gives nothing either.
std::vector<SignatureBytes> ReadSignatureLines(std::string_view file);
