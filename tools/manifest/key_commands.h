#pragma once
// zerandis-manifest keygen and sign.

#include <cstdint>
#include <ostream>

#include "command_line.h"

// One line on `err` when they fail. Return an ExitCode: kExitOk done,
// kExitUsage nothing written (an existing key file, an unreadable key, the
// Windows build...).
int RunKeygen(const CommandLine& line, std::ostream& err);
int RunSign(const CommandLine& line, std::ostream& err);

// The clock sign and verify judge expiry dates by: seconds since 1970-01-01 UTC.
std::int64_t UnixSecondsNow();
