#include "net/transfer.h"

#include <cwchar>
#include <memory>

#include "common/handle.h"
#include "common/run_flags.h"
#include "config/error_text.h"
#include "net/https_request.h"

namespace {

constexpr DWORD kDownloadBufferSize = 1048576;
constexpr wchar_t kCancelledText[] = L"Operacja anulowana.";

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

}  // namespace

bool FetchToMemory(const std::wstring& url, std::vector<char>& bytes, std::wstring& error) {
    HttpsRequestHandles handles;
    if (!OpenHttpsRequest(url, handles, error)) return false;
    bytes.clear();
    if (CancelRequested.load()) {
        error = kCancelledText;
        return false;
    }
    for (;;) {
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(handles.request.Get(), &available)) {
            const DWORD code = ::GetLastError();
            error = L"WinHttpQueryDataAvailable: " + WindowsErrorText(code);
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
            const DWORD code = ::GetLastError();
            error = L"WinHttpReadData: " + WindowsErrorText(code);
            return false;
        }
        bytes.resize(oldSize + read);
        if (CancelRequested.load()) {
            error = kCancelledText;
            return false;
        }
    }
}

bool DownloadToFile(const std::wstring& url, const std::wstring& path,
                    const DownloadProgressCallback& onProgress, std::wstring& error) {
    // Declared first so it closes last: buffer, then file, then request handles.
    HttpsRequestHandles handles;
    if (!OpenHttpsRequest(url, handles, error)) return false;

    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        error = L"Nie można utworzyć pliku " + path + L": " + WindowsErrorText(code);
        return false;
    }
    // Allocated once; uninitialised on purpose, since every byte is read before it is written out.
    const std::unique_ptr<char[]> buffer(new char[kDownloadBufferSize]);
    std::uint64_t total = 0;
    if (CancelRequested.load()) {
        error = kCancelledText;
        return false;
    }
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(handles.request.Get(), buffer.get(), kDownloadBufferSize, &read)) {
            const DWORD code = ::GetLastError();
            error = L"Błąd odczytu HTTP: " + WindowsErrorText(code);
            return false;
        }
        if (read == 0) {
            ::FlushFileBuffers(file.Get());
            return true;
        }
        DWORD written = 0;
        const BOOL wrote = ::WriteFile(file.Get(), buffer.get(), read, &written, nullptr);
        const DWORD code = ::GetLastError();
        if (!wrote || written != read) {
            error = L"Błąd zapisu pliku: " + WindowsErrorText(code);
            return false;
        }
        total += written;
        onProgress(total);
        if (CancelRequested.load()) {
            error = kCancelledText;
            return false;
        }
    }
}
