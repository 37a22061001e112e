#pragma once
// What an update run tells the player, and how it reaches the screen: eight
// private messages posted to MainWindow, never sent. Text messages carry a
// heap copy of the text that the window deletes once shown; the poster
// deletes it whenever the post does not happen. The run speaks through the
// Report* verbs; the window turns each message into a control update.

#include <string>

#include "common/win_compat.h"

constexpr UINT WM_PATCHER_STATUS = WM_APP + 1;          // lParam: owned text, the status line
constexpr UINT WM_PATCHER_DETAIL = WM_APP + 2;          // lParam: owned text, the detail line
constexpr UINT WM_PATCHER_COUNTS = WM_APP + 3;          // lParam: owned text, the counts line
constexpr UINT WM_PATCHER_TOTAL_PROGRESS = WM_APP + 4;  // wParam: position 0-100 of the overall bar
constexpr UINT WM_PATCHER_DONE = WM_APP + 5;            // wParam: 1 up to date, 0 failed
constexpr UINT WM_PATCHER_EXIT = WM_APP + 6;            // destroys the main window
constexpr UINT WM_PATCHER_FILE_PROGRESS = WM_APP + 7;   // wParam: position 0-100 of the file bar
constexpr UINT WM_PATCHER_RATE = WM_APP + 8;            // lParam: owned text, the bottom line

// The main window; stored once by its procedure on creation, read by posters.
extern HWND MainWindow;

// The run's verbs, one per message. Each posts and returns at once; texts
// that cannot be posted are dropped, positions above 100 are posted as 100.
void ReportStatus(const std::wstring& text);
void ReportDetail(const std::wstring& text);
void ReportCounts(const std::wstring& text);
void ReportRate(const std::wstring& text);
void ReportTotalProgress(WPARAM percent);
void ReportFileProgress(WPARAM percent);
// The run is over: `upToDate` enables the play button, false leaves it disabled.
// Unlike the other posts, this one and ReportExit are retried while the queue
// is full, for as long as the window exists: texts may be lost, ends may not.
void ReportDone(bool upToDate);
// The patcher's own update was handed over: the window closes.
void ReportExit();

// The one way a run gives up: logs "BLAD: " + message, shows the failure
// texts and posts WM_PATCHER_DONE 0. Touches neither run flag.
void ReportFailure(const std::wstring& message);

// Posts one of the four text messages to MainWindow with a heap copy of
// `text`. Never blocks and reports nothing: when the window is gone or the
// post fails the copy is deleted at once and the text is simply not shown.
void PostWindowText(UINT message, const std::wstring& text);

// Posts one of the four numeric messages with `value` as wParam; positions
// above 100 are posted as 100. A failed post is ignored.
void PostWindowNumber(UINT message, WPARAM value);

// How every message is posted: PostMessageW. Tests put a stand-in here to
// see a full queue (Wine's queues never fill).
using WindowPostFunction = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
extern WindowPostFunction PostToWindow;

// True for the four messages whose lParam is an owned text.
bool IsTextMessage(UINT message);

// Window side: the text carried by a text message's lParam (never null once
// posted), and its deletion after it has been shown.
const std::wstring& PostedText(LPARAM lParam);
void DeletePostedText(LPARAM lParam);

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
