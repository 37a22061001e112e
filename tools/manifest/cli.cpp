#include "cli.h"

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
            } else {
                line.problem = "unknown command '" + operand + "'";
            }
            return true;
        case 1:
            line.clientDir = PathFromUtf8(operand);
            return true;
        case 2:
            if (line.command != Command::Verify) return false;
            line.manifest = PathFromUtf8(operand);
            return true;
        default:
            return false;
    }
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    size_t operands = 0;
    bool help = false;
    bool output = false;
    bool optionsEnded = false;
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
    return line;
}

std::string HelpText() {
    return R"(zerandis-manifest: builds and checks the Zerandis Patcher's manifest.

Usage:
  zerandis-manifest generate CLIENT_DIR [-o FILE] [--include-local-config]
  zerandis-manifest verify CLIENT_DIR MANIFEST

generate  Lists every file under CLIENT_DIR as "md5 size path" lines (sorted,
          UTF-8, LF) on standard output, or in FILE, which is written whole
          and then renamed into place. Left out: manifest.md5 and FILE,
          *.download and *.new leftovers, and at the top patcher.txt and
          patcher.ini. Names that would break the patcher on Windows (":",
          "..", reserved names and characters, trailing dots or spaces,
          names differing only in case, links out of the folder...) are
          listed on standard error and nothing is written.
verify    Reads MANIFEST as the patcher does and checks CLIENT_DIR against
          it: missing files, wrong sizes, wrong MD5 sums, files not listed.

Options:
  -o FILE                 write the manifest to FILE
  --include-local-config  list the top-level patcher.ini too (every player's
                          copy is then replaced by it)
  -q                      no progress and no summary
  --progress              progress even when standard error is no terminal
  -h, --help              this text

Exit codes: 0 all well; 1 files refused, or the folder differs from the
manifest; 2 wrong usage, or a file or folder could not be read or written.
)";
}
