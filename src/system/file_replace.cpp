#include "system/file_replace.h"

#include "common/app_paths.h"
#include "common/long_path.h"
#include "common/win_compat.h"
#include "config/error_text.h"
#include "config/log.h"

namespace {

constexpr int kMaxAttempts = 30;
constexpr DWORD kRetryPauseMs = 200;

// Codes that mean "in use or locked right now": worth waiting for. Anything
// else (a missing staging file, a bad path) will not fix itself.
bool IsRetryable(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE;
}

bool CreateParentDirectory(const std::wstring& target, std::wstring& errorText) {
    const std::wstring parent = ParentPath(target);
    if (parent.empty()) return true;  // a bare file name lives in the current directory
    if (CreateDirectoryTree(parent)) return true;
    errorText = L"Nie można utworzyć katalogu " + parent;
    return false;
}

// MoveFileExW refuses to replace a read-only file with ERROR_ACCESS_DENIED,
// which would otherwise be retried for the whole budget.
void ClearReadOnly(const std::wstring& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return;
    const DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    // Zero is not a valid attribute set; NORMAL is its spelling.
    ::SetFileAttributesW(target.c_str(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

bool ReplaceLocalFile(const std::wstring& source, const std::wstring& target, std::wstring& errorText) {
    if (!CreateParentDirectory(target, errorText)) return false;
    // The calls get the long form where a path needs it; the texts keep the player's form.
    const std::wstring longSource = LongPathForm(source);
    const std::wstring longTarget = LongPathForm(target);
    ClearReadOnly(longTarget);

    DWORD error = ERROR_SUCCESS;
    int attempt = 1;
    for (;; ++attempt) {
        // No MOVEFILE_COPY_ALLOWED: the staging file sits beside the target, so
        // this is a rename that replaces the target whole or not at all.
        if (::MoveFileExW(longSource.c_str(), longTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            if (attempt > 1) {
                WriteLog(L"Podmiana pliku powiodła się po ponowieniu: " + target + L" | próba: " +
                         std::to_wstring(attempt) + L"/" + std::to_wstring(kMaxAttempts));
            }
            return true;
        }
        error = ::GetLastError();
        if (!IsRetryable(error) || attempt == kMaxAttempts) break;
        ::Sleep(kRetryPauseMs);
    }

    const std::wstring reason = WindowsErrorText(error);
    errorText = L"Nie można podmienić " + target + L": " + reason;
    // An early stop at a lasting error is logged once, by the caller's failure
    // report; only the exhausted budget gets a line of its own.
    if (attempt == kMaxAttempts) {
        WriteLog(L"Nieudana podmiana pliku po " + std::to_wstring(kMaxAttempts) + L" próbach: " + target +
                 L" | błąd: " + reason);
    }
    return false;
}
