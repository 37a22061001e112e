#pragma once
// zerandis-manifest check-server: does the live server give a player's
// patcher the files its manifest lists? Fetches everything by the patcher's
// own URLs. The Linux build only (check_server_unavailable.cpp on Windows).

#include <ostream>

#include "command_line.h"

// The whole command: one line per bad file and a summary on `out`, progress
// on `err`. Returns kExitOk, kExitDifferences (a file or the signature is
// wrong) or kExitUsage (nothing could be checked, or some file got no answer).
int RunCheckServer(const CommandLine& line, std::ostream& out, std::ostream& err, bool showProgress);
