#pragma once
// The one owner of the update worker thread. Main thread only: the window
// starts runs and cancels them, the entry point stops the last one at exit.

// True while a run is in progress (from its start until its last act).
bool UpdateRunActive();

// Starts UpdateWorker on the worker thread; does nothing while a run is
// active. Joins the previous run's thread first. A thread that cannot be
// started ends like a failed run.
void StartUpdateWorker();

// Asks the run to stop at its next check of the cancel flag; returns at once.
// A request that waits for its server ends that wait first.
void RequestCancel();

// Requests a cancel and waits for the run's thread to end, at exit; at most
// 1.5 s: false when the run is still blocked then (the process must end
// without it).
bool StopUpdateWorker();
