#pragma once
// One check-and-repair run, the body of the worker thread: settings, manifest,
// check of every listed file, then the up-to-date outcome, or the download,
// verification and installation of every stale file, and a summary.

// The worker thread's body. Sets RunActive at its start and clears it as its
// last act; reports everything to MainWindow by posted messages and to the log.
// Nothing escapes it: whatever fails inside ends the run as a failure.
void UpdateWorker() noexcept;
