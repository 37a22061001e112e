#pragma once
// The window's side of the run's reports (update/run_report.h): the main
// window's controls, and the handler that turns each WM_PATCHER_* message into
// a control update.

#include "common/win_compat.h"

// Control identifiers of the main window.
constexpr int IDC_TOTAL_PROGRESS = 1001;
constexpr int IDC_STATUS = 1002;
constexpr int IDC_DETAIL = 1003;
constexpr int IDC_COUNTS = 1004;
constexpr int IDC_PLAY = 1005;
constexpr int IDC_REPAIR = 1006;
constexpr int IDC_FILE_PROGRESS = 1007;
constexpr int IDC_TOTAL_LABEL = 1008;
constexpr int IDC_FILE_LABEL = 1009;
constexpr int IDC_RATE = 1010;

// Carries out a WM_PATCHER_* message on `window` (its controls found by
// identifier) and deletes a carried text. False, with `result` untouched, for
// any other message.
bool HandlePatcherMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
