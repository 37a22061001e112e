#include "signing.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "net/signature_file.h"
#include "output_file.h"
#include "path_rules.h"
#include "tree_scan.h"

namespace fs = std::filesystem;

namespace {

template <auto Free>
struct Deleter {
    template <typename T>
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG_free>>;

std::string Shown(const fs::path& path) { return Printable(NameBytes(path)); }

// The reason of the last libcrypto failure; the error queue is emptied.
std::string CryptoReason() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "libcrypto failed";
}

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    return EVP_PKEY_is_a(key, "EC") && EVP_PKEY_get_group_name(key, group, sizeof group, nullptr) == 1 &&
           std::strcmp(group, "prime256v1") == 0;
}

bool ReadBytes(const fs::path& path, std::string& bytes) {
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return file.is_open() && (file.good() || file.eof());
}

// Creates `path` with `mode`, never over an existing file, and writes `text`.
bool CreateNewFile(const fs::path& path, mode_t mode, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
    if (fd < 0) {
        error = "cannot create " + Shown(path) + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    if (!ok) error = "cannot write " + Shown(path) + ": " + std::strerror(errno);
    ::close(fd);
    if (!ok) ::unlink(path.c_str());
    return ok;
}

std::string ToPem(EVP_PKEY* key, bool privatePart) {
    const Bio bio(BIO_new(BIO_s_mem()));
    const int written = privatePart ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                                    : PEM_write_bio_PUBKEY(bio.get(), key);
    char* data = nullptr;
    const long size = written == 1 ? BIO_get_mem_data(bio.get(), &data) : 0;
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

Key ReadPrivateKey(const fs::path& path, std::string& error) {
    const Bio bio(BIO_new_file(path.c_str(), "rb"));
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key) {
        error = "cannot read a private key from " + Shown(path) + ": " + CryptoReason();
    } else if (!IsP256(key.get())) {
        error = Shown(path) + " is not an ECDSA P-256 key";
        key.reset();
    }
    return key;
}

bool ReadPublicKeys(const fs::path& path, std::vector<Key>& keys, std::string& error) {
    const Bio bio(BIO_new_file(path.c_str(), "rb"));
    while (bio) {
        Key key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
        if (!key) break;
        if (!IsP256(key.get())) {
            error = Shown(path) + ": key " + std::to_string(keys.size() + 1) + " is not an ECDSA P-256 key";
            return false;
        }
        keys.push_back(std::move(key));
    }
    ERR_clear_error();  // the end of the file ends the loop as a failed read
    if (keys.empty()) error = "cannot read a public key from " + Shown(path);
    return !keys.empty();
}

// OpenSSL signs in DER; the file holds r || s.
bool Sign(EVP_PKEY* key, const std::string& bytes, SignatureBytes& signature) {
    const DigestContext context(EVP_MD_CTX_new());
    size_t size = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &size, nullptr, 0) != 1) {
        return false;
    }
    std::vector<unsigned char> der(size);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (EVP_DigestSign(context.get(), der.data(), &size, data, bytes.size()) != 1) return false;
    const unsigned char* cursor = der.data();
    const EcdsaSig parsed(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)));
    if (!parsed) return false;
    return BN_bn2binpad(ECDSA_SIG_get0_r(parsed.get()), signature.data(), 32) == 32 &&
           BN_bn2binpad(ECDSA_SIG_get0_s(parsed.get()), signature.data() + 32, 32) == 32;
}

bool Verifies(EVP_PKEY* key, const std::string& bytes, const SignatureBytes& signature) {
    EcdsaSig parsed(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
    if (!parsed || !r || !s || ECDSA_SIG_set0(parsed.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int size = i2d_ECDSA_SIG(parsed.get(), &der);
    const DigestContext context(EVP_MD_CTX_new());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const bool ok = size > 0 && context &&
                    EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestVerify(context.get(), der, static_cast<size_t>(size), data, bytes.size()) == 1;
    OPENSSL_free(der);
    ERR_clear_error();
    return ok;
}

}  // namespace

bool MakeKeyPair(const fs::path& privateKey, const fs::path& publicKey, std::string& error) {
    for (const fs::path& path : {privateKey, publicKey}) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(path, ec))) {
            error = Shown(path) + " exists; key files are never overwritten";
            return false;
        }
    }
    const Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const std::string privatePem = key ? ToPem(key.get(), true) : std::string();
    const std::string publicPem = key ? ToPem(key.get(), false) : std::string();
    if (privatePem.empty() || publicPem.empty()) {
        error = "cannot make a key pair: " + CryptoReason();
        return false;
    }
    if (!CreateNewFile(privateKey, 0600, privatePem, error)) return false;
    if (CreateNewFile(publicKey, 0644, publicPem, error)) return true;
    ::unlink(privateKey.c_str());
    return false;
}

bool SignManifest(const std::vector<fs::path>& privateKeys, const fs::path& manifest, std::string& error) {
    std::string bytes;
    if (!ReadBytes(manifest, bytes)) {
        error = "cannot read " + Shown(manifest);
        return false;
    }
    std::string text;
    for (const fs::path& path : privateKeys) {
        const Key key = ReadPrivateKey(path, error);
        if (!key) return false;
        SignatureBytes signature{};
        if (!Sign(key.get(), bytes, signature)) {
            error = "cannot sign with " + Shown(path) + ": " + CryptoReason();
            return false;
        }
        text += FormatSignatureLine(signature);
    }
    fs::path target = manifest;
    target += ".sig";
    return WriteFileAtomically(target, text, error);
}

bool CheckSignatureFile(const std::string& manifestBytes, const fs::path& signature, const fs::path& publicKeys,
                        std::string& finding, std::string& error) {
    std::string file;
    std::error_code ec;
    if (!fs::exists(signature, ec) || !ReadBytes(signature, file)) {
        std::vector<Key> keys;
        if (!ReadPublicKeys(publicKeys, keys, error)) return false;
        finding = "missing";
        return false;
    }
    return CheckSignatureText(manifestBytes, file, publicKeys, finding, error);
}

bool CheckSignatureText(const std::string& manifestBytes, const std::string& file, const fs::path& publicKeys,
                        std::string& finding, std::string& error) {
    std::vector<Key> keys;
    if (!ReadPublicKeys(publicKeys, keys, error)) return false;
    const std::vector<SignatureBytes> signatures = ReadSignatureLines(file);
    if (signatures.empty()) {
        finding = "holds no signature";
        return false;
    }
    for (const Key& key : keys) {
        for (const SignatureBytes& candidate : signatures) {
            if (Verifies(key.get(), manifestBytes, candidate)) return true;
        }
    }
    finding = "does not verify with any key of " + Shown(publicKeys);
    return false;
}
