#include "md5.h"

#include <vector>

#include "common/handle.h"

#include <bcrypt.h>  // after windows.h, whose types it uses

namespace {

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

bool QuerySize(BCRYPT_ALG_HANDLE algorithm, LPCWSTR property, DWORD& value) {
    ULONG written = 0;
    return Succeeded(::BCryptGetProperty(algorithm, property, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                         &written, 0));
}

}  // namespace

// Members in this order so that the hash goes before the buffer it lives in,
// and both before the provider.
struct Md5Hasher::State {
    UniqueHandle<AlgorithmTraits> algorithm;
    std::vector<UCHAR> hashObject;
    UniqueHandle<HashTraits> hash;
    DWORD digestLength = 0;
    bool ok = false;
};

Md5Hasher::Md5Hasher() : state_(std::make_unique<State>()) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0))) return;
    state_->algorithm.Reset(algorithm);
    DWORD objectLength = 0;
    if (!QuerySize(algorithm, BCRYPT_OBJECT_LENGTH, objectLength) ||
        !QuerySize(algorithm, BCRYPT_HASH_LENGTH, state_->digestLength)) {
        return;
    }
    state_->hashObject.resize(objectLength);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(::BCryptCreateHash(algorithm, &hash, state_->hashObject.data(), objectLength, nullptr, 0, 0))) {
        return;
    }
    state_->hash.Reset(hash);
    state_->ok = state_->digestLength == 16;
}

Md5Hasher::~Md5Hasher() = default;

bool Md5Hasher::Update(const void* data, size_t size) {
    // BCryptHashData takes a 32-bit length; the callers' chunks are far smaller,
    // but a larger block is fed in pieces all the same.
    const auto* bytes = static_cast<const UCHAR*>(data);
    while (state_->ok && size > 0) {
        const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
        state_->ok = Succeeded(::BCryptHashData(state_->hash.Get(), const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    return state_->ok;
}

bool Md5Hasher::Finish(std::string& hex) {
    UCHAR digest[16] = {};
    const bool ok = state_->ok && Succeeded(::BCryptFinishHash(state_->hash.Get(), digest, sizeof(digest), 0));
    state_->ok = false;  // finished: a second Finish or Update fails
    if (!ok) return false;
    hex = HexDigits(digest, sizeof(digest));
    return true;
}
