#pragma once
// The studio's signing key: making it, signing a manifest, checking a
// signature (the file format is in src/net/signature_file.h). The server
// build does this with libcrypto; the Windows build of the tool leaves it out
// and says so.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "net/signature_file.h"

// A new ECDSA P-256 key pair: `privateKey` (PKCS#8 PEM, readable by its owner
// only) and `publicKey` (PEM). Refuses when either file exists. False with
// `error` set; nothing is left behind then.
bool MakeKeyPair(const std::filesystem::path& privateKey, const std::filesystem::path& publicKey,
                 std::string& error);

// Writes `manifest` + ".sig" whole, one version-2 line per key of
// `privateKeys` (PEM files of P-256 private keys), each signing the manifest
// with `stamp`, renamed into place. False with `error` set.
bool SignManifest(const std::vector<std::filesystem::path>& privateKeys, const std::filesystem::path& manifest,
                  const ReleaseStamp& stamp, std::string& error);

// Checks `manifestBytes` against the bytes of a signature file and the public
// keys of the PEM file `publicKeys` (one or more), as a keyed patcher whose
// clock reads `nowUnixSeconds` would. True when some version-2 line verifies
// with some key; `stamp` is then its release and expiry. False with `finding`
// set when the file holds no such line, none verifies, or the one that does
// has expired (`stamp` set then too): a difference; or with `error` set when
// the key file cannot be used.
bool CheckSignatureBytes(const std::string& manifestBytes, const std::string& signatureFile,
                         const std::filesystem::path& publicKeys, std::int64_t nowUnixSeconds, ReleaseStamp& stamp,
                         std::string& finding, std::string& error);

// As CheckSignatureBytes for the file `signature`; a missing file is the finding "missing".
bool CheckSignatureFile(const std::string& manifestBytes, const std::filesystem::path& signature,
                        const std::filesystem::path& publicKeys, std::int64_t nowUnixSeconds, ReleaseStamp& stamp,
                        std::string& finding, std::string& error);
