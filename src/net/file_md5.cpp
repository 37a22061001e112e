#include "net/file_md5.h"

#include <memory>
#include <mutex>
#include <new>

#include "common/handle.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "config/error_text.h"

#include <bcrypt.h>  // after windows.h, whose types it uses

namespace {

struct AlgorithmHandleTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using AlgorithmHandle = UniqueHandle<AlgorithmHandleTraits>;

struct HashHandleTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};
using HashHandle = UniqueHandle<HashHandleTraits>;

constexpr DWORD ReadChunkSize = 1024 * 1024;

bool Succeeded(NTSTATUS status) { return status >= 0; }

// Zero-filled, and null instead of throwing when memory is short.
std::unique_ptr<UCHAR[]> NewBuffer(DWORD size) {
    return std::unique_ptr<UCHAR[]>(new (std::nothrow) UCHAR[size]());
}

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

// The 1 MiB read buffer, kept for the life of the thread: allocating and
// clearing a fresh one per file would cost more than reading a small file.
UCHAR* ThreadReadBuffer() {
    thread_local std::unique_ptr<UCHAR[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) UCHAR[ReadChunkSize]);
    return buffer.get();
}

bool QuerySize(BCRYPT_ALG_HANDLE algorithm, LPCWSTR property, DWORD& value) {
    ULONG written = 0;
    return Succeeded(::BCryptGetProperty(algorithm, property, reinterpret_cast<PUCHAR>(&value),
                                         sizeof(value), &written, 0));
}

std::wstring HexDigits(const UCHAR* bytes, DWORD count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(count * 2);
    for (DWORD i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

// Feeds the file to the hash chunk by chunk and finishes it into `digest`.
// False on cancel or a read failure (with `error` set) and on a failed hash
// call (with `error` left empty).
bool HashFile(HANDLE file, BCRYPT_HASH_HANDLE hash, UCHAR* digest, DWORD digestLength,
              std::wstring& error) {
    UCHAR* chunk = ThreadReadBuffer();
    if (chunk == nullptr) return false;
    for (;;) {
        if (CancelRequested.load()) {
            error = L"Operacja anulowana.";
            return false;
        }
        DWORD read = 0;
        if (!::ReadFile(file, chunk, ReadChunkSize, &read, nullptr)) {
            const DWORD code = ::GetLastError();
            error = L"Błąd odczytu pliku: " + WindowsErrorText(code);
            return false;
        }
        // Only a read of 0 bytes ends the file; a short read may be followed by more.
        if (read == 0) return Succeeded(::BCryptFinishHash(hash, digest, digestLength, 0));
        if (!Succeeded(::BCryptHashData(hash, chunk, read, 0))) return false;
    }
}

}  // namespace

bool ComputeFileMd5(const std::wstring& path, std::wstring& md5, std::wstring& error) {
    const BCRYPT_ALG_HANDLE algorithm = SharedMd5Provider();
    if (algorithm == nullptr) {
        error = L"BCryptOpenAlgorithmProvider(MD5) nie powiódł się.";
        return false;
    }

    // Declared in this order so that the holders release the file, then the
    // hash, then the buffers the hash lives in.
    std::wstring failure;
    DWORD objectLength = 0;
    DWORD digestLength = 0;
    std::unique_ptr<UCHAR[]> hashObject;
    std::unique_ptr<UCHAR[]> digest;
    HashHandle hash;
    FileHandle file;
    bool ok = QuerySize(algorithm, BCRYPT_OBJECT_LENGTH, objectLength) &&
              QuerySize(algorithm, BCRYPT_HASH_LENGTH, digestLength);
    if (ok) {
        hashObject = NewBuffer(objectLength);
        digest = NewBuffer(digestLength);
        ok = hashObject && digest;
    }
    if (ok) {
        BCRYPT_HASH_HANDLE rawHash = nullptr;
        ok = Succeeded(::BCryptCreateHash(algorithm, &rawHash, hashObject.get(), objectLength,
                                          nullptr, 0, 0));
        hash.Reset(rawHash);
    }
    if (ok) {
        file.Reset(::CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) {
            const DWORD code = ::GetLastError();
            failure = L"Nie można odczytać " + path + L": " + WindowsErrorText(code);
            ok = false;
        }
    }
    if (ok) ok = HashFile(file.Get(), hash.Get(), digest.get(), digestLength, failure);
    if (!ok) {
        error = failure.empty() ? std::wstring(L"Nie można obliczyć MD5 pliku.") : failure;
        return false;
    }
    md5 = ToLowerWide(HexDigits(digest.get(), digestLength));
    return true;
}
