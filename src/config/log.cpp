#include "config/log.h"

#include <cwchar>
#include <mutex>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/text.h"

namespace {

std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

constexpr DWORD kCrashLockWaitMs = 1000;
constexpr DWORD kCrashLockPollMs = 10;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

void WriteBytes(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    ::WriteFile(file, data, size, &written, nullptr);  // a short write loses the line, never the run
}

// Puts a new entry on a line of its own when the file does not end in LF.
void SeparateFromPreviousContent(HANDLE file) {
    LARGE_INTEGER back;
    back.QuadPart = -1;
    if (!::SetFilePointerEx(file, back, nullptr, FILE_END)) return;
    char last = 0;
    DWORD read = 0;
    if (::ReadFile(file, &last, 1, &read, nullptr) && read == 1 && last != '\n') {
        WriteBytes(file, "\r\n", 2);
    }
}

}  // namespace

void AppendLogLine(const wchar_t* path, const char* utf8Line, DWORD lineSize) {
    // Append-only access: every write lands at the end, wherever the pointer stands.
    FileHandle file(::CreateFileW(path, GENERIC_READ | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.Get(), &size)) return;
    if (size.QuadPart == 0) {
        WriteBytes(file.Get(), "\xEF\xBB\xBF", 3);
    } else {
        SeparateFromPreviousContent(file.Get());
    }
    WriteBytes(file.Get(), utf8Line, lineSize);
    WriteBytes(file.Get(), "\r\n", 2);
    ::FlushFileBuffers(file.Get());
}

void AppendCrashLogLine(const wchar_t* path, const char* utf8Line, DWORD lineSize) {
    std::mutex& mutex = LogMutex();
    bool locked = mutex.try_lock();
    for (DWORD waited = 0; !locked && waited < kCrashLockWaitMs; waited += kCrashLockPollMs) {
        ::Sleep(kCrashLockPollMs);
        locked = mutex.try_lock();
    }
    AppendLogLine(path, utf8Line, lineSize);
    if (locked) mutex.unlock();
}

std::wstring LogFilePath() { return LongPathForm(ResolveAppPath(kLogFileName)); }

std::wstring SanitizeLogMessage(const std::wstring& message) {
    std::wstring clean;
    clean.reserve(message.size());
    bool lastWasBlank = false;
    for (wchar_t c : message) {
        if (c == L'\r' || c == L'\n') {
            if (!clean.empty() && !lastWasBlank) {
                clean.push_back(L' ');
                lastWasBlank = true;
            }
            continue;
        }
        clean.push_back(c);
        lastWasBlank = IsBlank(c);
    }
    while (!clean.empty() && IsBlank(clean.back())) clean.pop_back();
    return clean;
}

std::wstring FormatLogTimestamp(const SYSTEMTIME& time) {
    wchar_t buffer[32];
    std::swprintf(buffer, sizeof(buffer) / sizeof(buffer[0]), L"[%04u-%02u-%02u %02u:%02u:%02u] ",
                  time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
    return buffer;
}

void WriteLog(const std::wstring& message) {
    // Out of memory (or a failing mutex) loses the line; it never reaches the caller.
    try {
        std::lock_guard<std::mutex> lock(LogMutex());
        const std::wstring clean = SanitizeLogMessage(message);
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        const std::string line = WideToUtf8(FormatLogTimestamp(now) + clean);
        if (line.empty()) return;
        AppendLogLine(LogFilePath().c_str(), line.data(), static_cast<DWORD>(line.size()));
    } catch (...) {
    }
}
