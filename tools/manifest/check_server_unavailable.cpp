// The Windows build of the tool has no HTTPS client of its own; the studio
// checks its server with the Linux build.
#include "check_server.h"

int RunCheckServer(const CommandLine&, std::ostream&, std::ostream& err, bool) {
    err << "zerandis-manifest: check-server is handled by the Linux build of zerandis-manifest only\n";
    return kExitUsage;
}
