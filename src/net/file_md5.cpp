#include "net/file_md5.h"

#include <memory>
#include <new>

#include "common/handle.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "config/error_text.h"
#include "net/md5_bcrypt.h"

namespace {

constexpr DWORD ReadChunkSize = 1024 * 1024;

// For a failed cryptography call: a property query, hash creation, hashing or finishing.
constexpr wchar_t kCannotHash[] = L"Nie można obliczyć MD5 pliku.";

// The 1 MiB read buffer, kept for the life of the thread: allocating and
// clearing a fresh one per file would cost more than reading a small file.
UCHAR* ThreadReadBuffer() {
    thread_local std::unique_ptr<UCHAR[]> buffer;
    if (!buffer) buffer.reset(new (std::nothrow) UCHAR[ReadChunkSize]);
    return buffer.get();
}

std::wstring HexDigits(const Md5Digest& bytes) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0F]);
    }
    return text;
}

// Feeds the file to the hash chunk by chunk and finishes it into `digest`.
// False with `error` set on cancel, a read failure or a failed hash call.
bool HashFile(HANDLE file, BcryptMd5& hash, Md5Digest& digest, std::wstring& error) {
    UCHAR* chunk = ThreadReadBuffer();
    if (chunk == nullptr) {
        error = kCannotHash;
        return false;
    }
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
        const bool ended = read == 0;
        if (ended ? !hash.Finish(digest) : !hash.Update(chunk, read)) {
            error = kCannotHash;
            return false;
        }
        if (ended) return true;
    }
}

}  // namespace

bool ComputeFileMd5(const std::wstring& path, std::wstring& md5, std::wstring& error) {
    // Declared before the file so that the file is released first, then the hash.
    BcryptMd5 hash;
    const Md5Start start = hash.Start();
    if (start == Md5Start::NoProvider) {
        error = L"BCryptOpenAlgorithmProvider(MD5) nie powiódł się.";
        return false;
    }
    if (start != Md5Start::Ready) {
        error = kCannotHash;
        return false;
    }
    const FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        error = L"Nie można odczytać " + path + L": " + WindowsErrorText(code);
        return false;
    }
    Md5Digest digest{};
    if (!HashFile(file.Get(), hash, digest, error)) return false;
    md5 = ToLowerWide(HexDigits(digest));
    return true;
}
