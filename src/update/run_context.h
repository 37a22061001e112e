#pragma once
// The state of one update run, handed from step to step on the worker thread.

#include <cstdint>
#include <string>
#include <vector>

#include "net/manifest.h"
#include "update/progress.h"

struct RunContext {
    std::wstring errorText;                    // filled by the operation that fails, shown by ReportFailure
    Manifest manifest;
    std::vector<ManifestEntry> downloadList;   // stale entries, in install order once sorted
    std::wstring patcherExeLower;              // PATCHER_EXE lower-cased: recognises the own executable
    DownloadProgressState progress;
    double totalDownloadSeconds = 0.0;         // transfer time of the successful attempts
    std::uint64_t keptRelease = 0;             // patcher-release.txt's release at the start (keyed runs)
    std::uint64_t acceptedRelease = 0;         // the verified signature's release; 0 without keys
};

// How a step left the run: go on with the next step, or the run is over (its
// outcome has been shown, or it ended silently on a cancel).
enum class StepResult { Next, RunOver };
