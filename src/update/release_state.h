#pragma once
// The highest release of the studio's signed manifests that this game folder
// has taken, kept in patcher-release.txt beside patcher.txt (the number in
// decimal, CR LF): a server that serves an older signed release, or one whose
// signature has lapsed, is refused before any file is checked.

#include <cstdint>

#include "net/signature_file.h"
#include "update/run_context.h"

// The state file's name, relative to the game folder; the manifest may not list it.
constexpr wchar_t kReleaseFileName[] = L"patcher-release.txt";

// Takes the verified `stamp` of this run's manifest: false with run.errorText
// set when its release is lower than the kept one or its expiry lies before
// `nowUnixSeconds`. A missing state file is release 0; an unreadable or
// corrupt one too, with a log line: only a writer who could replace the
// patcher itself can spoil it, and refusing would lock the player out.
bool AcceptSignedRelease(const ReleaseStamp& stamp, std::int64_t nowUnixSeconds, RunContext& run);

// The clock for AcceptSignedRelease: seconds since 1970-01-01 UTC.
std::int64_t CurrentUnixSeconds();

// Called once a run has installed every file of its accepted release or found
// the folder up to date: keeps that release when it is higher than the kept
// one (written beside, flushed, renamed over). A run without keys, or one
// that fails or is interrupted, keeps nothing, so the next run checks again.
// A failed write is logged and the run's outcome stands.
void RememberAcceptedRelease(const RunContext& run);
