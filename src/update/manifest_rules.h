#pragma once
// What a manifest may not ask of the game folder, checked before any file is
// touched: one local file listed twice (the last entry would win, and the
// next run would find the other one stale again), a staging file, the log,
// or a name Windows cannot keep as listed. The rules are shared with the
// manifest tool (net/manifest_names.h); the names are compared here as
// Windows stores them.

#include <string>

#include "net/manifest.h"

// False with the error text for the first entry that names the log
// patcher.txt, a staging file (".download", or `ownStagingName`: the running
// patcher's ".new" file, relative to the game folder), a local file an earlier
// entry names (letter case, "." elements, repeated separators, and trailing
// dots and spaces of each name aside), or a name JudgeListedName refuses (a
// device, an element ending in a dot or a space, the patcher's other files).
bool CheckManifestNames(const Manifest& manifest, const std::wstring& ownStagingName, std::wstring& error);
