#include "updater_args.h"

#include "common/app_paths.h"
#include "system/configurator_shutdown.h"

namespace {

// Digits only, no sign, no blanks; 0 and values above 32 bits are refused.
bool ParseProcessId(const std::wstring& text, DWORD& id) {
    if (text.empty() || text.size() > 10) return false;
    unsigned long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    if (value == 0 || value > 0xFFFFFFFFull) return false;
    id = static_cast<DWORD>(value);
    return true;
}

// The first problem of a complete set of values, or empty.
std::wstring CheckValues(const UpdaterArgs& args) {
    if (!IsAbsolutePath(args.currentExe)) {
        return L"ścieżka --current nie jest bezwzględna: " + args.currentExe;
    }
    if (!IsAbsolutePath(args.newExe)) return L"ścieżka --new nie jest bezwzględna: " + args.newExe;
    if (IsSamePath(args.currentExe, args.newExe)) {
        return L"--new wskazuje ten sam plik co --current: " + args.newExe;
    }
    return {};
}

}  // namespace

UpdaterArgs ParseUpdaterArgs(const std::vector<std::wstring>& arguments) {
    UpdaterArgs args;
    bool havePid = false, haveCurrent = false, haveNew = false;
    auto fail = [&args](const std::wstring& problem) {
        if (args.problem.empty()) args.problem = problem;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& name = arguments[i];
        bool* seen = name == L"--pid"       ? &havePid
                     : name == L"--current" ? &haveCurrent
                     : name == L"--new"     ? &haveNew
                                            : nullptr;
        if (seen == nullptr) {
            fail(L"nieznany argument: " + name);
            continue;
        }
        if (i + 1 >= arguments.size()) {
            fail(L"brak wartości argumentu " + name);
            break;
        }
        const std::wstring& value = arguments[++i];
        if (*seen) fail(L"argument " + name + L" podano więcej niż raz");
        *seen = true;
        if (name == L"--current") {
            args.currentExe = value;  // wanted for the log even when something else is wrong
        } else if (name == L"--new") {
            args.newExe = value;
        } else if (!ParseProcessId(value, args.patcherPid)) {
            fail(L"nieprawidłowy identyfikator procesu: " + value);
        }
    }
    if (!havePid) fail(L"brak argumentu --pid");
    if (!haveCurrent) fail(L"brak argumentu --current");
    if (!haveNew) fail(L"brak argumentu --new");
    if (args.problem.empty()) args.problem = CheckValues(args);
    return args;
}
