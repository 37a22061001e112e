#include "key_commands.h"

#include <chrono>

#include "signing.h"

int RunKeygen(const CommandLine& line, std::ostream& err) {
    std::string error;
    if (!MakeKeyPair(line.privateKey, line.publicKey, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    return kExitOk;
}

int RunSign(const CommandLine& line, std::ostream& err) {
    std::string error;
    if (!line.expires.empty() && ExpiryInstant(line.expires) <= UnixSecondsNow()) {
        err << "zerandis-manifest: --expires " << line.expires << " has passed; patchers would refuse the manifest\n";
        return kExitUsage;
    }
    if (!SignManifest(line.signingKeys, line.manifest, ReleaseStamp{line.release, line.expires}, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    return kExitOk;
}

std::int64_t UnixSecondsNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}
