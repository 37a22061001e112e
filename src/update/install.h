#pragma once
// Putting each verified file in place, and the summary that ends a complete run.

#include "net/manifest.h"
#include "update/run_context.h"
#include "update/staging.h"

// Installs one verified staging file: closes a configurator first when the
// entry is a configurator file, then replaces the client file, or hands the
// patcher's own new executable to the updater (which ends the run with
// WM_PATCHER_EXIT). RunOver when the run has ended here.
StepResult InstallFile(RunContext& run, const ManifestEntry& entry, const StagedFile& staged);

// The texts, log line and WM_PATCHER_DONE 1 after the last file was installed.
void ShowSummary(const RunContext& run);
