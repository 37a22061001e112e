#include "key_commands.h"

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
    if (!SignManifest(line.signingKeys, line.manifest, error)) {
        err << "zerandis-manifest: " << error << "\n";
        return kExitUsage;
    }
    return kExitOk;
}
