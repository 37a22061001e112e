#pragma once
// The protocol by which the update run drives the main window: eight private
// messages posted to MainWindow, never sent. Text messages carry a heap copy
// of the text that the receiver deletes; the poster deletes it whenever the
// post does not happen.

#include <string>

#include "common/win_compat.h"

constexpr UINT WM_PATCHER_STATUS = WM_APP + 1;          // lParam: owned text for 1002
constexpr UINT WM_PATCHER_DETAIL = WM_APP + 2;          // lParam: owned text for 1003
constexpr UINT WM_PATCHER_COUNTS = WM_APP + 3;          // lParam: owned text for 1004
constexpr UINT WM_PATCHER_TOTAL_PROGRESS = WM_APP + 4;  // wParam: position 0-100 of 1001
constexpr UINT WM_PATCHER_DONE = WM_APP + 5;            // wParam: 1 up to date, 0 failed
constexpr UINT WM_PATCHER_EXIT = WM_APP + 6;            // destroys the main window
constexpr UINT WM_PATCHER_FILE_PROGRESS = WM_APP + 7;   // wParam: position 0-100 of 1007
constexpr UINT WM_PATCHER_RATE = WM_APP + 8;            // lParam: owned text for 1010

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

// The main window; stored once by its procedure on creation, read by posters.
extern HWND MainWindow;

// Posts one of the four text messages to MainWindow with a heap copy of
// `text`. Never blocks and reports nothing: when the window is gone or the
// post fails the copy is deleted at once and the text is simply not shown.
void PostWindowText(UINT message, const std::wstring& text);

// Posts one of the four numeric messages with `value` as wParam; positions
// above 100 are posted as 100. A failed post is ignored.
void PostWindowNumber(UINT message, WPARAM value);

// Window side: carries out a WM_PATCHER_* message on `window` (its controls
// found by identifier) and deletes a carried text. False, with `result`
// untouched, for any other message.
bool HandlePatcherMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

// Reclaims texts posted to `window` that will never be handled. Call it on
// WM_DESTROY, while the window still exists: the system discards a destroyed
// window's queued messages, so later would be too late. From then on no text
// is posted to `window`, and the texts already queued for it are deleted.
// Called again once the window is gone (after the message loop), it deletes
// any text message left in the calling thread's queue. Returns the number of
// texts deleted.
int ReclaimWindowTexts(HWND window);

// Texts allocated by PostWindowText and not yet deleted, process-wide.
long LiveWindowTextCount();
