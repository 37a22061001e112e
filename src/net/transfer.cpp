#include "net/transfer.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "common/handle.h"
#include "common/run_flags.h"
#include "config/error_text.h"
#include "net/https_request.h"

namespace {

constexpr DWORD kDownloadBufferSize = 1048576;
// On a slow link the file and the progress still move this often.
constexpr auto kWriteInterval = std::chrono::milliseconds(250);

// The body length the server announced, or false when it named none (chunked).
bool AnnouncedLength(HINTERNET request, std::uint64_t& length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                               text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    wchar_t* end = nullptr;
    length = std::wcstoull(text, &end, 10);
    return end != text && *end == L'\0';
}

using Clock = std::chrono::steady_clock;

// The slow-transfer window under way: when it began and what it has received.
struct Pace {
    Clock::time_point start = Clock::now();
    std::uint64_t bytes = 0;
};

// Counts `count` received bytes into the window; false when a whole window
// went by with too few of them.
bool KeepsPace(Pace& pace, DWORD count) {
    pace.bytes += count;
    const Clock::time_point now = Clock::now();
    if (now - pace.start < SlowTransferLimit.window) return true;
    if (pace.bytes < SlowTransferLimit.minBytes) return false;
    pace = Pace{now, 0};
    return true;
}

constexpr wchar_t kTooSlowText[] = L"Serwer przesyła dane zbyt wolno.";

// The body of one download on its way to the file. Reads take what has
// arrived (a read never waits for a full buffer), so every rule is checked as
// bytes come in; the buffer goes to the file when full or kWriteInterval after
// the last write.
struct BodyStream {
    HINTERNET request;
    HANDLE file;
    std::uint64_t maxBytes;
    std::unique_ptr<char[]> buffer;
    DWORD buffered = 0;
    std::uint64_t written = 0;
    Clock::time_point lastWrite = Clock::now();
    Pace pace{};
};

constexpr wchar_t kFileReadPrefix[] = L"Błąd odczytu HTTP: ";

// Adds what has arrived to the buffer; `finished` at the end of the body.
bool ReadSome(BodyStream& stream, bool& finished, std::wstring& error) {
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(stream.request, &available)) {
        error = kFileReadPrefix + WindowsErrorText(::GetLastError());
        return false;
    }
    if (available == 0) {
        finished = true;
        return true;
    }
    // Judged before reading, so the file never holds more than maxBytes.
    if (stream.written + stream.buffered + available > stream.maxBytes) {
        error = L"Serwer wysłał więcej danych, niż podaje lista plików.";
        return false;
    }
    DWORD read = 0;
    const DWORD wanted = std::min(available, kDownloadBufferSize - stream.buffered);
    if (!::WinHttpReadData(stream.request, stream.buffer.get() + stream.buffered, wanted, &read)) {
        error = kFileReadPrefix + WindowsErrorText(::GetLastError());
        return false;
    }
    stream.buffered += read;
    finished = read == 0;
    if (!KeepsPace(stream.pace, read)) {
        error = kTooSlowText;
        return false;
    }
    return true;
}

// Writes the buffer out and reports the new total.
bool WriteBuffered(BodyStream& stream, const DownloadProgressCallback& onProgress, std::wstring& error) {
    stream.lastWrite = Clock::now();
    if (stream.buffered == 0) return true;
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(stream.file, stream.buffer.get(), stream.buffered, &written, nullptr);
    DWORD code = ::GetLastError();
    if (!wrote || written != stream.buffered) {
        // A short write carries no code of its own: the disk is full.
        if (wrote || code == ERROR_SUCCESS) code = ERROR_DISK_FULL;
        error = L"Błąd zapisu pliku: " + WindowsErrorText(code);
        return false;
    }
    stream.written += written;
    stream.buffered = 0;
    onProgress(stream.written);
    return true;
}

// Any failure while the cancel flag is set is the player's cancel, whatever
// ended it (a read cut short, the pace, a size rule, a write).
bool Finished(bool ok, std::wstring& error) {
    if (!ok && CancelRequested.load()) error = kCancelledText;
    return ok;
}

bool ReadBodyToMemory(HttpsRequestHandles& handles, std::vector<char>& bytes, std::wstring& error) {
    bytes.clear();
    Pace pace{};
    for (;;) {
        if (CancelRequested.load()) {
            error = kCancelledText;
            return false;
        }
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(handles.request.Get(), &available)) {
            error = L"WinHttpQueryDataAvailable: " + WindowsErrorText(::GetLastError());
            return false;
        }
        if (available == 0) {
            // Wine ends a body cut short by the server as if it were complete;
            // a manifest missing its tail must not pass for a whole one.
            std::uint64_t announced = 0;
            if (AnnouncedLength(handles.request.Get(), announced) && announced != bytes.size()) {
                error = L"WinHttpReadData: " + WindowsErrorText(ERROR_WINHTTP_CONNECTION_ERROR);
                return false;
            }
            return true;
        }
        // Judged on the announced count, so an oversized body is never buffered.
        if (bytes.size() + static_cast<std::uint64_t>(available) > kFetchToMemoryLimit) {
            error = L"Manifest jest zbyt duży.";
            return false;
        }
        const std::size_t oldSize = bytes.size();
        bytes.resize(oldSize + available);
        DWORD read = 0;
        if (!::WinHttpReadData(handles.request.Get(), bytes.data() + oldSize, available, &read)) {
            error = L"WinHttpReadData: " + WindowsErrorText(::GetLastError());
            return false;
        }
        bytes.resize(oldSize + read);
        // The manifest and its signature are held to the files' pace: a drip
        // must not hold the run before its first file either.
        if (!KeepsPace(pace, read)) {
            error = kTooSlowText;
            return false;
        }
    }
}

bool StreamBodyToFile(HttpsRequestHandles& handles, HANDLE file, const DownloadProgressCallback& onProgress,
                      std::wstring& error, std::uint64_t maxBytes) {
    if (CancelRequested.load()) {
        error = kCancelledText;
        return false;
    }
    // The buffer is allocated once; uninitialised on purpose, since every byte
    // is read before it is written out.
    BodyStream stream{handles.request.Get(), file, maxBytes,
                      std::unique_ptr<char[]>(new char[kDownloadBufferSize])};
    for (;;) {
        bool finished = false;
        if (!ReadSome(stream, finished, error)) return false;
        // A cancel writes out what was read, so the file holds what was counted.
        if (finished || CancelRequested.load() || stream.buffered == kDownloadBufferSize ||
            Clock::now() - stream.lastWrite >= kWriteInterval) {
            if (!WriteBuffered(stream, onProgress, error)) return false;
        }
        if (finished) {
            // On disk before anyone reads the file back.
            ::FlushFileBuffers(file);
            return true;
        }
        if (CancelRequested.load()) {
            error = kCancelledText;
            return false;
        }
    }
}

}  // namespace

SlowTransferRule SlowTransferLimit;

bool FetchToMemory(const std::wstring& url, std::vector<char>& bytes, std::wstring& error) {
    HttpsRequestHandles handles;
    if (!OpenHttpsRequest(url, handles, error)) return false;
    return Finished(ReadBodyToMemory(handles, bytes, error), error);
}

bool DownloadToFile(const std::wstring& url, const FileHandle& file, const DownloadProgressCallback& onProgress,
                    std::wstring& error, std::uint64_t maxBytes) {
    HttpsRequestHandles handles;
    if (!OpenHttpsRequest(url, handles, error)) return false;
    return Finished(StreamBodyToFile(handles, file.Get(), onProgress, error, maxBytes), error);
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    const DownloadProgressCallback& onProgress, std::wstring& error,
                    std::uint64_t maxBytes) {
    HttpsRequestHandles handles;
    if (!OpenHttpsRequest(url, handles, error)) return false;
    // Declared after the request handles, so it closes first.
    const FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        error = L"Nie można utworzyć pliku " + path + L": " + WindowsErrorText(code);
        return Finished(false, error);
    }
    return Finished(StreamBodyToFile(handles, file.Get(), onProgress, error, maxBytes), error);
}
