#pragma once
// The download phase: every stale file in turn is downloaded into its staging
// file (up to three attempts), verified by size and MD5 and installed at once.

#include <cstdint>
#include <string>

#include "net/manifest.h"
#include "update/run_context.h"

// The log line for a staged file of wrong size or MD5 (`md5` empty when none
// was obtained; `md5Error` appended when the hash failed).
std::wstring MismatchLogLine(const ManifestEntry& entry, const std::wstring& md5, std::uint64_t size, int attempt,
                            const std::wstring& md5Error);

// Downloads, verifies and installs run.downloadList in order, then shows the
// summary. Ends the run through ReportFailure on the first file that fails,
// silently on a cancel seen between files, and with WM_PATCHER_EXIT after a
// self-update handoff.
void RunDownloadPhase(RunContext& run);
