#include "update/release_state.h"

#include <string>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/win_compat.h"
#include "config/error_text.h"
#include "config/log.h"
#include "system/file_replace.h"

namespace {

std::wstring Decimal(std::uint64_t value) { return std::to_wstring(value); }

// False when the file exists but holds no release number or cannot be read.
bool ReadKeptRelease(const std::wstring& path, std::uint64_t& release) {
    release = 0;
    const FileHandle file(::CreateFileW(LongPathForm(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    char buffer[32];
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) || read == sizeof buffer) return false;
    std::string_view text(buffer, read);
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") text.remove_suffix(2);
    return ParseReleaseNumber(text, release);
}

// Writes `text` whole to a new `path` and flushes it; 0, or the Windows error code.
DWORD WriteWholeFile(const std::wstring& path, const std::string& text) {
    const FileHandle file(::CreateFileW(LongPathForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return ::GetLastError();
    DWORD written = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return ::GetLastError();
    }
    if (written != text.size()) return ERROR_WRITE_FAULT;
    return ::FlushFileBuffers(file.Get()) ? 0 : ::GetLastError();
}

bool WriteKeptRelease(const std::wstring& path, std::uint64_t release, std::wstring& error) {
    // The ".download" name beside it: one the manifest may never list.
    const std::wstring staging = path + L".download";
    const DWORD code = WriteWholeFile(staging, std::to_string(release) + "\r\n");
    if (code != 0) error = L"Błąd zapisu pliku " + staging + L": " + WindowsErrorText(code);
    if (code == 0 && ReplaceLocalFile(staging, path, error)) return true;
    ::DeleteFileW(LongPathForm(staging).c_str());
    return false;
}

}  // namespace

bool AcceptSignedRelease(const ReleaseStamp& stamp, std::int64_t nowUnixSeconds, RunContext& run) {
    if (!ReadKeptRelease(ResolveAppPath(kReleaseFileName), run.keptRelease)) {
        WriteLog(L"Nie można odczytać wydania z pliku patcher-release.txt; przyjęto wydanie 0.");
    }
    if (stamp.release < run.keptRelease) {
        run.errorText = L"Serwer podał starsze wydanie plików (" + Decimal(stamp.release) + L") niż już zainstalowane (" +
                        Decimal(run.keptRelease) + L").";
        return false;
    }
    if (!stamp.expires.empty() && nowUnixSeconds >= ExpiryInstant(stamp.expires)) {
        run.errorText = L"Podpis listy plików wygasł " + std::wstring(stamp.expires.begin(), stamp.expires.end()) + L".";
        return false;
    }
    run.acceptedRelease = stamp.release;
    const std::wstring expires(stamp.expires.begin(), stamp.expires.end());
    WriteLog(L"Wydanie plików: " + Decimal(stamp.release) + (expires.empty() ? L"" : L", podpis ważny do " + expires) +
             L".");
    return true;
}

std::int64_t CurrentUnixSeconds() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::int64_t ticks = (static_cast<std::int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000LL) / 10000000;  // 100 ns ticks since 1601 to seconds since 1970
}

void RememberAcceptedRelease(const RunContext& run) {
    if (run.acceptedRelease <= run.keptRelease) return;
    std::wstring error;
    if (!WriteKeptRelease(ResolveAppPath(kReleaseFileName), run.acceptedRelease, error)) {
        WriteLog(L"Nie zapisano wydania plików " + Decimal(run.acceptedRelease) + L": " + error);
    }
}
