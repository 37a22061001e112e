#pragma once
// Closing the game's configurator, started from the game directory, before
// config.exe or config.ini is replaced: ask, wait 5 s, then force.

#include <string>
#include <vector>

#include "common/win_compat.h"
#include "net/manifest.h"

// True when the entry's file name (after its last "\\" or "/"), lower-cased in
// A-Z, is config.exe or config.ini, in whatever subdirectory.
bool IsConfiguratorFile(const ManifestEntry& entry);

// True when two paths name the same file once each is made weakly canonical,
// lexically normal and lower-cased in A-Z.
bool IsSamePath(const std::wstring& a, const std::wstring& b);

// Ids of running processes whose full image path is config.exe,
// OrkumiConfig.exe or Zerandis_config.exe in AppDirectory; ascending, without
// duplicates. Logs one line per process found. Empty when no snapshot.
std::vector<DWORD> FindConfiguratorProcesses();

// Closes every configurator process from AppDirectory; one started elsewhere
// is left alone. True when none is left (also when none ran); false with
// `errorText` set when cancelled or a process survives.
bool CloseRunningConfigurators(std::wstring& errorText);
