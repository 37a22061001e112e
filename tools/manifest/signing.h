#pragma once
// The studio's signing key: making it, signing a manifest, checking a
// signature (the file format is in src/net/signature_file.h). The server
// build does this with libcrypto; the Windows build of the tool leaves it out
// and says so.

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

// A new ECDSA P-256 key pair: `privateKey` (PKCS#8 PEM, readable by its owner
// only) and `publicKey` (PEM). Refuses when either file exists. False with
// `error` set; nothing is left behind then.
bool MakeKeyPair(const std::filesystem::path& privateKey, const std::filesystem::path& publicKey,
                 std::string& error);

// Writes `manifest` + ".sig" whole, one line per key of `privateKeys` (PEM
// files of P-256 private keys), renamed into place. False with `error` set.
bool SignManifest(const std::vector<std::filesystem::path>& privateKeys, const std::filesystem::path& manifest,
                  std::string& error);

// Checks `manifestBytes` against the signature file `signature` and the public
// keys of the PEM file `publicKeys` (one or more). True when some line of the
// file verifies with some key. False with `finding` set when the signature is
// missing or does not verify (a difference), or with `error` set when the key
// file cannot be used.
bool CheckSignatureFile(const std::string& manifestBytes, const std::filesystem::path& signature,
                        const std::filesystem::path& publicKeys, std::string& finding, std::string& error);

// The same check over the bytes of a signature file (fetched, not on disk).
bool CheckSignatureText(const std::string& manifestBytes, const std::string& signatureFile,
                        const std::filesystem::path& publicKeys, std::string& finding, std::string& error);
