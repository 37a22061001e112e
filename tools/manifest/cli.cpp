#include "cli.h"

#include "net/signature_file.h"
#include "tree_scan.h"

namespace {

// Fills `line` from one argument that is not an option. False when there is
// no place left for it.
bool TakeOperand(const std::string& operand, CommandLine& line, size_t& operands) {
    switch (operands++) {
        case 0:
            if (operand == "generate") {
                line.command = Command::Generate;
            } else if (operand == "verify") {
                line.command = Command::Verify;
            } else if (operand == "keygen") {
                line.command = Command::Keygen;
            } else if (operand == "sign") {
                line.command = Command::Sign;
            } else if (operand == "check-server") {
                line.command = Command::CheckServer;
            } else {
                line.problem = "unknown command '" + operand + "'";
            }
            return true;
        case 1:
            if (line.command == Command::Keygen) {
                line.privateKey = PathFromUtf8(operand);
            } else if (line.command == Command::Sign) {
                line.manifest = PathFromUtf8(operand);
            } else if (line.command == Command::CheckServer) {
                line.baseUrl = operand;
            } else {
                line.clientDir = PathFromUtf8(operand);
            }
            return true;
        case 2:
            if (line.command != Command::Verify) return false;
            line.manifest = PathFromUtf8(operand);
            return true;
        default:
            return false;
    }
}

// Takes --key, --public or --public-key (with the argument after it) at
// arguments[index] into `line`, moving `index` past the value. False when the
// argument is none of them; a missing value sets `line.problem`.
bool TakeKeyOption(const std::vector<std::string>& arguments, size_t& index, CommandLine& line) {
    const std::string& option = arguments[index];
    if (option != "--key" && option != "--public" && option != "--public-key") return false;
    if (index + 1 == arguments.size()) {
        line.problem = option + " needs a file name";
        return true;
    }
    const std::filesystem::path value = PathFromUtf8(arguments[++index]);
    if (option == "--key") {
        line.signingKeys.push_back(value);
    } else if (line.publicKey.empty()) {
        line.publicKey = value;
    } else {
        line.problem = option + " given twice";
    }
    return true;
}

// Takes --release N or --expires DATE at arguments[index] into `line`, as
// TakeKeyOption does; a value the signature file cannot carry sets `line.problem`.
bool TakeReleaseOption(const std::vector<std::string>& arguments, size_t& index, CommandLine& line) {
    const std::string& option = arguments[index];
    if (option != "--release" && option != "--expires") return false;
    if (index + 1 == arguments.size()) {
        line.problem = option + (option == "--release" ? " needs a number" : " needs a date");
        return true;
    }
    const std::string& value = arguments[++index];
    if (option == "--release" && !ParseReleaseNumber(value, line.release)) {
        line.problem = "--release needs a whole number from 1 (at most 18 digits): '" + value + "'";
    } else if (option == "--expires" && !IsExpiryDate(value)) {
        line.problem = "--expires needs a date YYYY-MM-DD: '" + value + "'";
    } else if (option == "--expires") {
        line.expires = value;
    }
    return true;
}

// Why the key parts of a parsed command line cannot be used; empty when they
// can. `operands` counts the command word too.
std::string KeyOptionsProblem(const CommandLine& line, size_t operands, bool output) {
    const bool keyCommand = line.command == Command::Keygen || line.command == Command::Sign;
    if (keyCommand && (output || line.includeLocalConfig)) return "-o and --include-local-config belong to generate";
    if (line.command == Command::Keygen && (operands < 2 || line.publicKey.empty())) {
        return "keygen needs PRIVATE.pem and --public PUBLIC.pem";
    }
    if (line.command == Command::Sign && (operands < 2 || line.signingKeys.empty() || line.release == 0)) {
        return "sign needs --key PRIVATE.pem, --release N and MANIFEST";
    }
    if (line.command != Command::Sign && !line.signingKeys.empty()) return "--key belongs to sign";
    if (line.command != Command::Sign && (line.release != 0 || !line.expires.empty())) {
        return "--release and --expires belong to sign";
    }
    if (line.command == Command::Generate && !line.publicKey.empty()) return "--public-key belongs to verify";
    return {};
}

// check-server's options --ca, --changed-since, --manifest and --jobs (with
// the argument after each), as TakeKeyOption does; `taken` records that one came.
bool TakeCheckServerOption(const std::vector<std::string>& arguments, size_t& index, CommandLine& line, bool& taken) {
    const std::string& option = arguments[index];
    if (option != "--ca" && option != "--changed-since" && option != "--manifest" && option != "--jobs") return false;
    taken = true;
    if (index + 1 == arguments.size()) {
        line.problem = option + " needs a value";
        return true;
    }
    const std::string& value = arguments[++index];
    if (option == "--ca") {
        line.caFile = PathFromUtf8(value);
    } else if (option == "--changed-since") {
        line.changedSince = PathFromUtf8(value);
    } else if (option == "--manifest") {
        line.manifestName = value;
    } else if (value.empty() || value.size() > 2 || value.find_first_not_of("0123456789") != std::string::npos ||
               std::stoul(value) < 1 || std::stoul(value) > 32) {
        line.problem = "--jobs takes a number from 1 to 32";
    } else {
        line.jobs = std::stoul(value);
    }
    return true;
}

// Why the check-server parts of a parsed command line cannot be used; empty when they can.
std::string CheckServerProblem(const CommandLine& line, size_t operands, bool output, bool serverOptions) {
    if (line.command != Command::CheckServer) {
        return serverOptions ? "--ca, --changed-since, --manifest and --jobs belong to check-server" : "";
    }
    if (operands < 2) return "check-server needs BASE_URL";
    if (line.baseUrl.rfind("https://", 0) != 0) return "BASE_URL must begin with https://, as the patcher's does";
    if (output || line.includeLocalConfig) return "-o and --include-local-config belong to generate";
    return {};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    size_t operands = 0;
    bool help = false;
    bool output = false;
    bool optionsEnded = false;
    bool serverOptions = false;
    for (size_t i = 0; i < arguments.size() && line.problem.empty(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            if (!TakeOperand(argument, line, operands)) line.problem = "unexpected argument '" + argument + "'";
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            help = true;
        } else if (argument == "-q" || argument == "--quiet") {
            line.quiet = true;
        } else if (argument == "--progress") {
            line.forceProgress = true;
        } else if (argument == "--include-local-config") {
            line.includeLocalConfig = true;
        } else if (TakeKeyOption(arguments, i, line) || TakeReleaseOption(arguments, i, line)) {
            // --key, --public, --public-key, --release, --expires: taken
        } else if (TakeCheckServerOption(arguments, i, line, serverOptions)) {
            // --ca, --changed-since, --manifest, --jobs: taken
        } else if (argument == "-o" || argument == "--output") {
            if (i + 1 == arguments.size()) {
                line.problem = "-o needs a file name";
            } else {
                line.manifest = PathFromUtf8(arguments[++i]);
                output = true;
            }
        } else {
            line.problem = "unknown option '" + argument + "'";
        }
    }
    if (help) {
        line = CommandLine{};
        return line;
    }
    if (!line.problem.empty()) return line;
    if (operands == 0) {
        line.problem = "no command given";
    } else if (line.command == Command::Generate && operands < 2) {
        line.problem = "generate needs CLIENT_DIR";
    } else if (line.command == Command::Verify && operands < 3) {
        line.problem = "verify needs CLIENT_DIR and MANIFEST";
    } else if (line.command == Command::Verify && (output || line.includeLocalConfig)) {
        line.problem = "-o and --include-local-config belong to generate";
    } else if (output && line.manifest.empty()) {
        line.problem = "-o needs a file name";
    }
    if (line.problem.empty()) line.problem = KeyOptionsProblem(line, operands, output);
    if (line.problem.empty()) line.problem = CheckServerProblem(line, operands, output, serverOptions);
    return line;
}

std::string HelpText() {
    return R"(zerandis-manifest: builds and checks the Zerandis Patcher's manifest.

Usage:
  zerandis-manifest generate CLIENT_DIR [-o FILE] [--include-local-config]
  zerandis-manifest verify CLIENT_DIR MANIFEST [--public-key PUBLIC.pem]
  zerandis-manifest keygen PRIVATE.pem --public PUBLIC.pem
  zerandis-manifest sign --key PRIVATE.pem [--key OLD.pem] --release N
                         [--expires YYYY-MM-DD] MANIFEST
  zerandis-manifest check-server BASE_URL [--public-key PUBLIC.pem] [--ca CA.pem]
                    [--jobs N] [--changed-since OLD_MANIFEST] [--manifest NAME]

generate  Lists every file under CLIENT_DIR as "md5 size path" lines (sorted,
          UTF-8, LF) on standard output, or in FILE, which is written whole
          and then renamed into place. Left out: manifest.md5 and FILE,
          *.download and *.new leftovers, and at the top the patcher's own
          patcher.txt, patcher-crash.dmp, patcher-release.txt, and
          patcher.ini. Names that would break the patcher on Windows (":",
          "..", reserved names and characters, trailing dots or spaces,
          names differing only in case, links out of the folder...) are
          listed on standard error and nothing is written.
verify    Reads MANIFEST as the patcher does and checks CLIENT_DIR against
          it: missing files, wrong sizes, wrong MD5 sums, files not listed;
          with --public-key also MANIFEST.sig (a missing, old-format, bad
          or expired signature is a difference) and shows its release.
keygen    Makes a new ECDSA P-256 key pair: PRIVATE.pem (readable by its
          owner only; keep it offline) and PUBLIC.pem (for the patcher's
          PATCHER_MANIFEST_PUBLIC_KEY). Never overwrites a file.
sign      Writes MANIFEST.sig beside MANIFEST, one signature per --key over
          the manifest, its release number and its expiry, whole and then
          renamed into place. Raise the number with every published
          manifest (a rollback too): patchers refuse a lower one.
check-server  Fetches the live manifest and every file it lists by the
          patcher's own URLs (a player's first attempt, so through the same
          cache key), checks size and MD5 as they arrive and prints one line
          per bad file and a summary; with --public-key also the .sig, its
          release number and expiry.

Options:
  -o FILE                 write the manifest to FILE
  --include-local-config  list the top-level patcher.ini too (every player's
                          copy is then replaced by it)
  --public-key FILE       verify: check MANIFEST.sig with the keys in FILE
  --public FILE           keygen: where the public key goes
  --key FILE              sign: the private key (again for a second line)
  --release N             sign: the release number, a whole number from 1
  --expires YYYY-MM-DD    sign: patchers refuse the manifest after the end of
                          that day (UTC); re-sign before then
  --ca FILE               check-server: trust this CA besides the system's
  --jobs N                check-server: files fetched at once (default 4)
  --changed-since FILE    check-server: only files whose line differs from FILE's
  --manifest NAME         check-server: the patcher's MANIFEST (manifest.md5)
  -q                      no progress and no summary
  --progress              progress even when standard error is no terminal
  -h, --help              this text

Exit codes: 0 all well; 1 files refused, or the folder differs from the
manifest (or its signature is missing or bad), or the server serves a file
wrong; 2 wrong usage, or a file or folder could not be read or written
(keygen and sign then wrote nothing), or the server could not be checked.
Keys, signatures and check-server are handled by the Linux build only.
)";
}
