#pragma once
// Display scaling queries. The newer user32 functions are looked up at run
// time, so the program still starts on systems that lack them.

#include "common/win_compat.h"

// The system DPI: GetDpiForSystem when user32 has it and it answers 96..768,
// else the screen's LOGPIXELSX, else 96.
int QuerySystemDpi();

// The DPI of `window`: GetDpiForWindow when user32 has it and it answers
// 96..768, else QuerySystemDpi().
int QueryWindowDpi(HWND window);

// Grows `rect` from a client rectangle to the window rectangle of a window with
// `style` (no menu, no extended style): AdjustWindowRectExForDpi at `dpi` when
// user32 has it, else AdjustWindowRectEx. False when the call fails.
bool AdjustWindowRectForDpi(RECT& rect, DWORD style, int dpi);

// True for a DPI the window accepts: 96..768.
inline bool IsUsableDpi(int dpi) { return dpi >= 96 && dpi <= 768; }
