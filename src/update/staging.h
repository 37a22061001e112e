#pragma once
// Staging files: where each stale file is downloaded to before it replaces the
// client file, and the verified staging file that the download hands to
// installation.

#include <cstdint>
#include <string>

#include "net/manifest.h"

// Where one file is downloaded to and installed.
struct StagedFile {
    std::wstring targetPath;   // the client file
    std::wstring stagingPath;  // target + ".download", or OwnExePath + ".new" for the patcher itself
    bool ownExecutable = false;
};

// Works out the paths of `entry` (the own executable is recognised by
// `patcherExeLower`).
StagedFile StagingFor(const ManifestEntry& entry, const std::wstring& patcherExeLower);

// Creates the staging file's folder and deletes a staging file left by an
// earlier run; errors are of no consequence (the download reports them).
void PrepareStaging(const StagedFile& staged);

// Deletes the staging file if there is one; errors are of no consequence.
void RemoveStagingFile(const StagedFile& staged);

// The size of the regular file at `path`; false (and `size` untouched) when
// it is missing, cannot be queried, or is a directory or device.
bool QueryRegularFileSize(const std::wstring& path, std::uint64_t& size);
