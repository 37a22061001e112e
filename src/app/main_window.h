#pragma once
// The main window: its procedure, controls and fonts; it starts the update runs.
// Everything here runs on the main thread.

#include "common/caption.h"
#include "common/win_compat.h"

// Identifier of the program's icon group.
constexpr int kAppIconId = 101;

// The procedure of the "ZerandisPatcherWindow" class. Nothing escapes it.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// The DPI all sizes are scaled for until the window is created and knows its
// own: the system DPI, set by the entry point before it creates the window.
void SetStartDpi(int dpi);

// Deletes the fonts, the background brush and the header icon; called at exit,
// after the window is gone.
void ReleaseWindowResources();
