#include "update/staging.h"

#include "common/app_paths.h"
#include "common/text.h"
#include "common/win_compat.h"

StagedFile StagingFor(const ManifestEntry& entry, const std::wstring& patcherExeLower) {
    StagedFile staged;
    staged.targetPath = ResolveAppPath(entry.path);
    staged.ownExecutable = ToLowerWide(entry.path) == patcherExeLower;
    // The new patcher is staged beside the running one, wherever the manifest lists it.
    staged.stagingPath = staged.ownExecutable ? OwnExePath + L".new" : staged.targetPath + L".download";
    return staged;
}

void PrepareStaging(const StagedFile& staged) {
    CreateDirectoryTree(ParentPath(staged.stagingPath));
    RemoveStagingFile(staged);
}

void RemoveStagingFile(const StagedFile& staged) { ::DeleteFileW(staged.stagingPath.c_str()); }

bool QueryRegularFileSize(const std::wstring& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return false;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}
