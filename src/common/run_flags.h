#pragma once
// Process-wide flags shared by the window thread and the update run.

#include <atomic>

// Set only by the window side (confirmed close, window destruction, exit);
// cleared by StartUpdateWorker before the run's thread exists; polled by long
// operations.
extern std::atomic<bool> CancelRequested;

// True while an update run is in progress; set and cleared by the run.
extern std::atomic<bool> RunActive;
