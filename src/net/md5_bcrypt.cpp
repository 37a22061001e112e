#include "net/md5_bcrypt.h"

#include <mutex>
#include <new>

#include "common/bcrypt_handle.h"

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

// One MD5 provider for the whole process. Opening it costs more than hashing
// a small file, and a check phase hashes thousands of them; its handle may be
// shared by threads. A failed open is tried again by the next call.
BCRYPT_ALG_HANDLE SharedMd5Provider() {
    static std::mutex guard;
    static AlgorithmHandle provider;
    const std::lock_guard<std::mutex> lock(guard);
    if (!provider) {
        BCRYPT_ALG_HANDLE raw = nullptr;
        if (Succeeded(::BCryptOpenAlgorithmProvider(&raw, BCRYPT_MD5_ALGORITHM, nullptr, 0))) provider.Reset(raw);
    }
    return provider.Get();
}

bool QuerySize(BCRYPT_ALG_HANDLE algorithm, LPCWSTR property, DWORD& value) {
    ULONG written = 0;
    return Succeeded(::BCryptGetProperty(algorithm, property, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                         &written, 0));
}

}  // namespace

// Members in this order so that the hash goes before the buffer it lives in.
struct BcryptMd5::State {
    std::unique_ptr<UCHAR[]> hashObject;
    HashHandle hash;
    bool ok = false;
};

BcryptMd5::BcryptMd5() : state_(std::make_unique<State>()) {}

BcryptMd5::~BcryptMd5() = default;

Md5Start BcryptMd5::Start() {
    const BCRYPT_ALG_HANDLE algorithm = SharedMd5Provider();
    if (algorithm == nullptr) return Md5Start::NoProvider;
    DWORD objectLength = 0;
    DWORD digestLength = 0;
    if (!QuerySize(algorithm, BCRYPT_OBJECT_LENGTH, objectLength) ||
        !QuerySize(algorithm, BCRYPT_HASH_LENGTH, digestLength) || digestLength != Md5Digest().size()) {
        return Md5Start::Failed;
    }
    // Zero-filled, and null instead of throwing when memory is short.
    state_->hashObject.reset(new (std::nothrow) UCHAR[objectLength]());
    if (!state_->hashObject) return Md5Start::Failed;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!Succeeded(::BCryptCreateHash(algorithm, &hash, state_->hashObject.get(), objectLength, nullptr, 0, 0))) {
        return Md5Start::Failed;
    }
    state_->hash.Reset(hash);
    state_->ok = true;
    return Md5Start::Ready;
}

bool BcryptMd5::Update(const void* data, size_t size) {
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

bool BcryptMd5::Finish(Md5Digest& digest) {
    Md5Digest result{};
    const bool ok =
        state_->ok && Succeeded(::BCryptFinishHash(state_->hash.Get(), result.data(), static_cast<ULONG>(result.size()), 0));
    state_->ok = false;  // finished: a second Finish or Update fails
    if (ok) digest = result;
    return ok;
}
