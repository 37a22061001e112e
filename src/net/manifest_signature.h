#pragma once
// The studio's signature over the manifest: ECDSA P-256 with SHA-256, checked
// against public keys compiled into the patcher (PATCHER_MANIFEST_PUBLIC_KEY).

#include <array>
#include <span>
#include <string>
#include <vector>

#include "net/signature_file.h"

// One public key: the P-256 point's X || Y, each 32 bytes, big-endian.
using ManifestPublicKey = std::array<unsigned char, 64>;

// The keys this build trusts; empty when it was built without any, and then
// the run fetches no signature at all. Defined by the build's generated source.
std::span<const ManifestPublicKey> BuiltInManifestKeys();

// True when some version-2 line of `signatureFile` (the .sig file's bytes) is
// a signature over `manifest` and its stamp that one of `keys` verifies; `stamp`
// is then that line's release and expiry. False with `error` set to the message
// for players otherwise, also when the file holds no such line (version-1
// lines, which sign no release, count for nothing).
bool CheckManifestSignature(const std::vector<char>& manifest, const std::vector<char>& signatureFile,
                            std::span<const ManifestPublicKey> keys, ReleaseStamp& stamp, std::wstring& error);
