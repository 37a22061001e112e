#pragma once
// Handing the patcher's own new executable to the updater program, which puts
// it in place once this process has ended.

#include <string>

#include "common/win_compat.h"

// "\"updater\" --pid N --current \"current\" --new \"new\"", nothing escaped.
std::wstring BuildUpdaterCommandLine(const std::wstring& updaterPath, DWORD processId,
                                     const std::wstring& currentExe, const std::wstring& newExe);

// Starts the UPDATER program (resolved against AppDirectory) for this process,
// OwnExePath and `newExePath`, and returns without waiting for it. False with
// `errorText` set when the updater is missing or cannot be started; the new
// file then stays where it is.
bool HandOffSelfUpdate(const std::wstring& newExePath, std::wstring& errorText);
