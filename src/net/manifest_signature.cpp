#include "net/manifest_signature.h"

#include <cstring>
#include <string_view>

#include "common/bcrypt_handle.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

AlgorithmHandle OpenAlgorithm(const wchar_t* name) {
    BCRYPT_ALG_HANDLE raw = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&raw, name, nullptr, 0))) return AlgorithmHandle();
    return AlgorithmHandle(raw);
}

// CreateHash/HashData/FinishHash rather than BCryptHash, which Windows 7 lacks.
// A null hash-object buffer lets CNG allocate it (Windows 7 and later).
bool HashSha256(std::string_view bytes, Sha256Digest& digest) {
    const AlgorithmHandle algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
    BCRYPT_HASH_HANDLE raw = nullptr;
    if (!algorithm || !Succeeded(::BCryptCreateHash(algorithm.Get(), &raw, nullptr, 0, nullptr, 0, 0))) return false;
    const HashHandle hash(raw);
    auto* data = reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data()));  // CNG only reads it
    return Succeeded(::BCryptHashData(hash.Get(), data, static_cast<ULONG>(bytes.size()), 0)) &&
           Succeeded(::BCryptFinishHash(hash.Get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

KeyHandle ImportKey(BCRYPT_ALG_HANDLE algorithm, const ManifestPublicKey& point) {
    std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, point.data(), point.size());
    BCRYPT_KEY_HANDLE raw = nullptr;
    if (!Succeeded(::BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &raw, blob.data(),
                                         static_cast<ULONG>(blob.size()), 0))) {
        return KeyHandle();
    }
    return KeyHandle(raw);
}

}  // namespace

bool CheckManifestSignature(const std::vector<char>& manifest, const std::vector<char>& signatureFile,
                            std::span<const ManifestPublicKey> keys, ReleaseStamp& stamp, std::wstring& error) {
    const std::vector<SignatureLine> lines =
        ReadSignatureLines(std::string_view(signatureFile.data(), signatureFile.size()));
    Sha256Digest manifestDigest{};
    const AlgorithmHandle ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!lines.empty() && ecdsa && HashSha256(std::string_view(manifest.data(), manifest.size()), manifestDigest)) {
        for (const ManifestPublicKey& point : keys) {
            const KeyHandle key = ImportKey(ecdsa.Get(), point);
            for (SignatureLine line : lines) {  // a copy: the call takes a non-const pointer
                Sha256Digest digest{};
                if (line.version != 2 || !HashSha256(ReleaseStatement(line.stamp, manifestDigest), digest)) continue;
                if (key && ::BCryptVerifySignature(key.Get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                                   line.signature.data(), static_cast<ULONG>(line.signature.size()),
                                                   0) == 0) {
                    stamp = line.stamp;
                    return true;
                }
            }
        }
    }
    error = L"Podpis listy plików jest nieprawidłowy.";
    return false;
}
