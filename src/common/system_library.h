#pragma once
// System DLLs loaded by their full path in the system folder, never by a name
// that the loader would look up in the game folder first.

#include <string>

#include "common/win_compat.h"

// True once kernel32 exports SetDefaultDllDirectories (Windows 8 on, and
// Windows 7 with KB2533623): only then does LoadLibraryExW accept the
// LOAD_LIBRARY_SEARCH_* flags; without it they fail the whole call.
bool SystemHasDllSearchFlags();

// The LoadLibraryExW flag that takes a System32 DLL's own imports from
// System32 too: LOAD_LIBRARY_SEARCH_SYSTEM32 where the system has it,
// LOAD_WITH_ALTERED_SEARCH_PATH (the DLL's own folder first) elsewhere.
DWORD SystemLibraryLoadFlags();

// "<system folder>\<name>", or empty when the system folder is unknown.
std::wstring SystemLibraryPath(const std::wstring& name);

// Loads System32\<name> by full path, its own imports from System32 too;
// `flags` are added (LOAD_LIBRARY_AS_DATAFILE loads no imports at all).
// Null on failure, with GetLastError set.
HMODULE LoadSystemLibrary(const std::wstring& name, DWORD flags = 0);
