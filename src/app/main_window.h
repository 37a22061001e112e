#pragma once
// The main window: its procedure, controls, fonts and the start of update runs.
// Everything here runs on the main thread.

#include <thread>

#include "common/win_compat.h"

// The DPI all sizes are scaled for: the system DPI at start, the window's own
// DPI from its creation on.
extern int CurrentDpi;

// The thread of the current or last update run; joined before the next run and at exit.
extern std::thread WorkerThread;

// The window title and the caption of every message box of the program.
constexpr wchar_t kPatcherCaption[] = L"Zerandis Patcher";

// Identifier of the program's icon group.
constexpr int kAppIconId = 101;

// The procedure of the "ZerandisPatcherWindow" class. Nothing escapes it.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// Starts an update run on WorkerThread unless one is active: disables both
// buttons, resets both bars, joins the previous run. A thread that cannot be
// started ends like a failed run.
void StartUpdateRun();

// Places every control for the window's client area at CurrentDpi.
void LayoutControls(HWND window);

// Creates the four fonts for CurrentDpi and puts them on the controls; on any
// failure the previous fonts stay.
void CreateUiFonts();

// Sends every control its font (WM_SETFONT with redraw).
void ApplyUiFonts();

// Deletes the fonts, the background brush and the header icon; called at exit,
// after the window is gone.
void ReleaseWindowResources();
