#pragma once
// What a manifest may not ask of the game folder, checked before any file is
// touched: one local file listed twice (the last entry would win, and the
// next run would find the other one stale again), a staging file, the log, or
// the kept release number.

#include <string>

#include "net/manifest.h"

// False with the error text for the first entry that names a local file an
// earlier one names (letter case, "." elements, repeated separators, and
// trailing dots and spaces of each name aside, as Windows stores names), a
// staging file (".download", or `ownStagingName`: the running patcher's
// ".new" file, relative to the game folder), the log patcher.txt, or the
// release state patcher-release.txt.
bool CheckManifestNames(const Manifest& manifest, const std::wstring& ownStagingName, std::wstring& error);
