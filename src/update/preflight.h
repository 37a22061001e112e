#pragma once
// What a run makes sure of before it closes the game: every folder it will
// write to takes a new file from this account, and every volume holds the
// downloads at their peak. A run that cannot work then fails at once, with
// the game still running, rather than after the game is closed and each file
// has failed three times.

#include <cstdint>
#include <string>
#include <vector>

#include "net/manifest.h"

// One stale file as the space check sees it.
struct StaleFileSpace {
    std::uint64_t newSize = 0;       // the manifest's size
    std::uint64_t currentSize = 0;   // the client file on disk now; 0 when missing
    std::uint64_t leftoverSize = 0;  // a staging file an earlier run left; removed before this file downloads
};

// The most the downloads of `files` can take from their volume's free space
// at one instant, whatever their order: each file's growth beyond its leftover
// staging file where positive, plus the largest current size (a staging copy
// lies beside its old file until the rename). Saturates at the 64-bit maximum.
std::uint64_t PeakSpaceNeed(const std::vector<StaleFileSpace>& files);

// Both checks for the stale entries (the own executable recognised by
// `patcherExeLower`): a probe file created and removed in each folder a
// download writes to (in the nearest existing one above a folder still to be
// made), then the free space available to this account on each volume.
// False with `errorText` ("Brak uprawnień do zapisu w folderze gry: " or "Za
// mało miejsca na dysku: ", each with what the player can do). A probe or
// query that fails for another reason refuses nothing: the download reports
// its own error.
bool CheckDownloadTargets(const std::vector<ManifestEntry>& downloadList, const std::wstring& patcherExeLower,
                          std::wstring& errorText);
