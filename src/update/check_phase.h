#pragma once
// The check of every listed local file, and the order in which stale files are handled.

#include <string>
#include <vector>

#include "net/manifest.h"
#include "update/run_context.h"

// True when the file at `localPath` exists, is a regular file of the entry's
// size and has its MD5. The hash is only computed when the size matches. False
// with `cancelled` set when a cancel stopped the hashing.
bool IsLocalFileCurrent(const ManifestEntry& entry, const std::wstring& localPath, bool& cancelled);

// Tests every manifest entry in order and fills run.downloadList with the stale
// ones. RunOver (silently: nothing posted or logged) when a cancel is seen.
StepResult CheckLocalFiles(RunContext& run);

// Stable sort: the entry named like `updaterPath` first, the one named like
// `patcherExe` last (whole paths compared after lower-casing A-Z).
void OrderDownloadList(std::vector<ManifestEntry>& list, const std::wstring& updaterPath,
                       const std::wstring& patcherExe);
