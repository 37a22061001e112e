#include "update/staging.h"

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "config/error_text.h"
#include "net/https_request.h"

namespace {

constexpr ULONGLONG kBusyStagingWaitMs = 2000;
constexpr DWORD kBusyStagingPauseMs = 100;

// What a scanner holding the name, or the delete it keeps pending, looks like.
bool IsBusyName(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_DELETE_PENDING;
}

}  // namespace

CreateFileCall StagingCreateFile = ::CreateFileW;

std::wstring OwnStagingPath() { return OwnExePath + L".new"; }

StagedFile StagingFor(const ManifestEntry& entry, const std::wstring& patcherExeLower) {
    StagedFile staged;
    staged.targetPath = ResolveAppPath(entry.path);
    staged.ownExecutable = ToLowerWide(entry.path) == patcherExeLower;
    // The new patcher is staged beside the running one, wherever the manifest lists it.
    staged.stagingPath = staged.ownExecutable ? OwnStagingPath() : staged.targetPath + L".download";
    return staged;
}

void PrepareStaging(const StagedFile& staged) {
    CreateDirectoryTree(ParentPath(staged.stagingPath));
    RemoveStagingFile(staged);
}

bool CreateStagingFile(const StagedFile& staged, FileHandle& file, std::wstring& errorText) {
    const std::wstring longPath = LongPathForm(staged.stagingPath);
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        file.Reset(StagingCreateFile(longPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return true;
        const DWORD error = ::GetLastError();
        if (CancelRequested.load()) {
            errorText = kCancelledText;
            return false;
        }
        if (!IsBusyName(error) || ::GetTickCount64() - start >= kBusyStagingWaitMs) {
            errorText = L"Nie można utworzyć pliku " + staged.stagingPath + L": " + WindowsErrorText(error);
            return false;
        }
        ::Sleep(kBusyStagingPauseMs);
    }
}

void RemoveStagingFile(const StagedFile& staged) { ::DeleteFileW(LongPathForm(staged.stagingPath).c_str()); }

bool QueryRegularFileSize(const std::wstring& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(LongPathForm(path).c_str(), GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}
