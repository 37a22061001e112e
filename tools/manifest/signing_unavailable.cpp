// Signing on Windows would need CNG's key storage and PEM handling; the
// studio signs on the server or on its offline machine with the Linux build.
#include "signing.h"

namespace {

const char kNotHere[] = "signing keys are handled by the Linux build of zerandis-manifest only";

}  // namespace

bool MakeKeyPair(const std::filesystem::path&, const std::filesystem::path&, std::string& error) {
    error = kNotHere;
    return false;
}

bool SignManifest(const std::vector<std::filesystem::path>&, const std::filesystem::path&, const ReleaseStamp&,
                  std::string& error) {
    error = kNotHere;
    return false;
}

bool CheckSignatureBytes(const std::string&, const std::string&, const std::filesystem::path&, std::int64_t,
                         ReleaseStamp&, std::string&, std::string& error) {
    error = kNotHere;
    return false;
}

bool CheckSignatureFile(const std::string&, const std::filesystem::path&, const std::filesystem::path&, std::int64_t,
                        ReleaseStamp&, std::string&, std::string& error) {
    error = kNotHere;
    return false;
}
