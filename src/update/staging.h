#pragma once
// Staging files: where each stale file is downloaded to before it replaces the
// client file, and the verified staging file that the download hands to
// installation.

#include <cstdint>
#include <string>

#include "common/handle.h"
#include "common/win_compat.h"
#include "net/manifest.h"

// Where one file is downloaded to and installed.
struct StagedFile {
    std::wstring targetPath;   // the client file
    std::wstring stagingPath;  // target + ".download", or OwnExePath + ".new" for the patcher itself
    bool ownExecutable = false;
};

// Where the patcher's own new executable is staged: beside the running one,
// OwnExePath + ".new".
std::wstring OwnStagingPath();

// Works out the paths of `entry` (the own executable is recognised by
// `patcherExeLower`).
StagedFile StagingFor(const ManifestEntry& entry, const std::wstring& patcherExeLower);

// Creates the staging file's folder and deletes a staging file left by an
// earlier run; errors are of no consequence (the download reports them).
void PrepareStaging(const StagedFile& staged);

// Creates (or empties) the staging file for one attempt's transfer and hands
// its handle (write only, not shared) to `file`: the download writes through
// it, so the name is opened once per attempt. A virus scanner still reading
// the last attempt's file, or that file's pending delete, keeps the name busy
// for a moment: access denied, a sharing violation or a pending delete is
// retried for about 2 s before it fails. False with `errorText` naming the
// staging path as the player knows it, or "Operacja anulowana." on a cancel.
bool CreateStagingFile(const StagedFile& staged, FileHandle& file, std::wstring& errorText);

// The CreateFileW that CreateStagingFile calls; tests put a recorder here.
using CreateFileCall = decltype(&::CreateFileW);
extern CreateFileCall StagingCreateFile;

// Deletes the staging file if there is one; errors are of no consequence.
void RemoveStagingFile(const StagedFile& staged);

// The size of the regular file at `path`; false (and `size` untouched) when
// it is missing, cannot be queried, or is a directory or device.
bool QueryRegularFileSize(const std::wstring& path, std::uint64_t& size);
