#pragma once
// The play button's work: start the game from the game directory, wait for
// its windows and hand them the foreground.

#include <string>
#include <vector>

#include "common/win_compat.h"

// Hides `mainWindow`, starts the GAME_EXE setting from AppDirectory, then
// looks up to 15 s for a window of the game's image and forces it to the
// foreground, once when found and six more times 350 ms apart. True when the
// game process was created, window or not. False with `errorText` set when the
// file is missing (the window untouched) or cannot be started (the window
// shown again and brought forward).
bool LaunchGame(HWND mainWindow, std::wstring& errorText);

// The visible, unowned top-level windows of processes whose image file name
// equals `imageName` (ASCII case ignored), in EnumWindows order.
std::vector<HWND> FindWindowsOfImage(const std::wstring& imageName);

// EnumWindows callback of FindWindowsOfImage; `context` points to its search
// record. Always continues the enumeration.
BOOL CALLBACK CollectWindowsOfImage(HWND window, LPARAM context) noexcept;

// Lifts `window` above all others and makes it the foreground window,
// attaching to the input of the foreground and the window's threads for the
// moment. Does nothing for null or a window that no longer exists.
void ForceForegroundWindow(HWND window);
