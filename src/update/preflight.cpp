#include "update/preflight.h"

#include <algorithm>
#include <cwchar>
#include <unordered_map>

#include "common/app_paths.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/text.h"
#include "common/win_compat.h"
#include "update/progress.h"
#include "update/staging.h"

namespace {

constexpr wchar_t kNoWriteAdvice[] =
    L"Uruchom patcher jako administrator albo przenieś grę poza folder chroniony przez system (np. Program Files).";
constexpr wchar_t kNoSpaceAdvice[] = L"Zwolnij miejsce na tym dysku i naciśnij NAPRAW PLIKI.";
constexpr DWORD kLongestPath = 32768;

// The stale files of one volume, and a folder on it to ask for its free space.
struct VolumeNeed {
    std::wstring key;
    std::wstring folder;
    std::vector<StaleFileSpace> files;
};

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > ~b ? ~std::uint64_t{0} : a + b; }

std::uint64_t SizeOrZero(const std::wstring& path) {
    std::uint64_t size = 0;
    QueryRegularFileSize(path, size);
    return size;
}

// `folder` itself, or the nearest folder above it that exists (the download
// creates the missing ones there); empty when a file stands in the way.
std::wstring NearestExistingFolder(std::wstring folder) {
    for (;;) {
        const DWORD attributes = ::GetFileAttributesW(LongPathForm(folder).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? folder : std::wstring();
        }
        const DWORD error = ::GetLastError();
        // A folder that exists but will not show its attributes is probed itself.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return folder;
        const std::wstring parent = ParentPath(folder);
        if (parent.empty() || parent == folder) return {};
        folder = parent;
    }
}

// True when `folder` refuses this account a new file: access denied, or a
// write-protected medium. Asking for DELETE too checks what the rename into
// place needs; delete-on-close removes the probe even if the process dies.
bool RefusesNewFile(const std::wstring& folder) {
    // No client file may end in ".download", so no staging name ends in
    // ".download.download": the probe can be mistaken for neither.
    const std::wstring name = L"zerandis-probe-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount64()) + L".download.download";
    const FileHandle probe(::CreateFileW(LongPathForm(AppendPath(folder, name)).c_str(), GENERIC_WRITE | DELETE, 0,
                                         nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                         nullptr));
    if (probe) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT;
}

// The mount point of the volume that holds `folder`, lower-cased; empty when
// the system cannot tell (such folders are counted as one volume).
std::wstring VolumeKey(const std::wstring& folder) {
    std::wstring volume(kLongestPath, L'\0');
    if (!::GetVolumePathNameW(LongPathForm(folder).c_str(), volume.data(), kLongestPath)) return {};
    volume.resize(std::wcslen(volume.c_str()));
    return ToLowerWide(WithoutLongPrefix(volume));
}

VolumeNeed& NeedOfVolume(std::vector<VolumeNeed>& volumes, const std::wstring& key, const std::wstring& folder) {
    const auto found = std::find_if(volumes.begin(), volumes.end(), [&](const VolumeNeed& v) { return v.key == key; });
    if (found != volumes.end()) return *found;
    return volumes.emplace_back(VolumeNeed{key, folder, {}});
}

// The free bytes this account may use where `folder` lies (per-user quotas
// included); false when the system cannot tell.
bool QueryFreeBytes(const std::wstring& folder, std::uint64_t& freeBytes) {
    std::wstring directory = LongPathForm(folder);
    if (directory.back() != L'\\') directory += L'\\';  // a share's root must end in one
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr)) return false;
    freeBytes = available.QuadPart;
    return true;
}

bool HasRoom(const std::vector<VolumeNeed>& volumes, std::wstring& errorText) {
    for (const VolumeNeed& volume : volumes) {
        const std::uint64_t need = PeakSpaceNeed(volume.files);
        std::uint64_t freeBytes = 0;
        if (!QueryFreeBytes(volume.folder, freeBytes) || need <= freeBytes) continue;
        errorText = L"Za mało miejsca na dysku: potrzeba " + FormatBytes(need) + L", wolne " + FormatBytes(freeBytes) +
                    L". " + kNoSpaceAdvice;
        return false;
    }
    return true;
}

}  // namespace

std::uint64_t PeakSpaceNeed(const std::vector<StaleFileSpace>& files) {
    std::uint64_t growth = 0;
    std::uint64_t largestOld = 0;
    for (const StaleFileSpace& file : files) {
        const std::uint64_t freed = SaturatingAdd(file.currentSize, file.leftoverSize);
        if (file.newSize > freed) growth = SaturatingAdd(growth, file.newSize - freed);
        largestOld = std::max(largestOld, file.currentSize);
    }
    return SaturatingAdd(growth, largestOld);
}

bool CheckDownloadTargets(const std::vector<ManifestEntry>& downloadList, const std::wstring& patcherExeLower,
                          std::wstring& errorText) {
    std::unordered_map<std::wstring, std::wstring> volumeOfFolder;  // lower-cased folder -> volume key
    std::vector<VolumeNeed> volumes;
    for (const ManifestEntry& entry : downloadList) {
        const StagedFile staged = StagingFor(entry, patcherExeLower);
        const std::wstring folder = NearestExistingFolder(ParentPath(staged.stagingPath));
        if (folder.empty()) continue;
        const auto [known, added] = volumeOfFolder.try_emplace(ToLowerWide(folder));
        if (added) {
            if (RefusesNewFile(folder)) {
                errorText = L"Brak uprawnień do zapisu w folderze gry: " + folder + L". " + kNoWriteAdvice;
                return false;
            }
            known->second = VolumeKey(folder);
        }
        NeedOfVolume(volumes, known->second, folder)
            .files.push_back({entry.size, SizeOrZero(staged.targetPath), SizeOrZero(staged.stagingPath)});
    }
    return HasRoom(volumes, errorText);
}
