#pragma once
// Closing a running game before files are replaced: ask, wait 8 s, then force.

#include <string>
#include <vector>

#include "common/win_compat.h"

// The file-name part of a GAME_EXE value: the text after its last "\" or "/".
std::wstring GameImageName(const std::wstring& gameExe);

// Ids of running processes whose executable file name equals `imageName`,
// ignoring the case of A-Z only, in snapshot order. Empty when no snapshot.
std::vector<DWORD> FindProcessesByImageName(const std::wstring& imageName);

// Closes every process named like Settings.gameExe, from any directory.
// True when none is left (also when none ran or no snapshot could be taken);
// false with `errorText` set when cancelled or a process survives.
bool CloseRunningGame(std::wstring& errorText);
