// zerandis-manifest: builds and checks the manifest that the Zerandis Patcher
// reads from the update server. Usage and exit codes: zerandis-manifest --help.

#include <chrono>
#include <exception>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "check_server.h"
#include "cli.h"
#include "generate.h"
#include "key_commands.h"
#include "verify.h"

namespace {

// Carries out `line`: help, usage problem, generate, verify, keygen, sign or check-server. Progress goes
// to `err` unless quiet, when it is a terminal or on request. Returns an ExitCode.
int RunCommandLine(const CommandLine& line, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    if (!line.problem.empty()) {
        err << "zerandis-manifest: " << line.problem << "\nRun 'zerandis-manifest --help' for usage.\n";
        return kExitUsage;
    }
    const bool progress = !line.quiet && (line.forceProgress || errIsTerminal);
    switch (line.command) {
        case Command::Help:
            out << HelpText();
            return kExitOk;
        case Command::Generate:
            return RunGenerate(line, std::chrono::system_clock::now(), out, err, progress);
        case Command::Verify:
            return RunVerify(line, out, err, progress);
        case Command::Keygen:
            return RunKeygen(line, err);
        case Command::Sign:
            return RunSign(line, err);
        case Command::CheckServer:
            return RunCheckServer(line, out, err, progress);
    }
    return kExitUsage;
}

}  // namespace

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <filesystem>

#include "common/win_compat.h"

// Arguments arrive in UTF-16; the tool works in UTF-8. The manifest goes to
// standard output byte for byte (LF stays LF).
int wmain(int argc, wchar_t** argv) {
    try {
        ::SetConsoleOutputCP(CP_UTF8);
        ::_setmode(::_fileno(stdout), _O_BINARY);
        std::vector<std::string> arguments;
        for (int i = 1; i < argc; ++i) {
            const std::u8string utf8 = std::filesystem::path(argv[i]).u8string();
            arguments.emplace_back(utf8.begin(), utf8.end());
        }
        const bool errIsTerminal = ::_isatty(::_fileno(stderr)) != 0;
        return RunCommandLine(ParseCommandLine(arguments), std::cout, std::cerr, errIsTerminal);
    } catch (const std::exception& e) {
        std::cerr << "zerandis-manifest: " << e.what() << "\n";
        return kExitUsage;
    }
}

#else
#include <unistd.h>

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
        return RunCommandLine(ParseCommandLine(arguments), std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0);
    } catch (const std::exception& e) {
        std::cerr << "zerandis-manifest: " << e.what() << "\n";
        return kExitUsage;
    }
}

#endif
