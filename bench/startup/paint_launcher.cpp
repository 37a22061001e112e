// Times programs from their start to a painted window, alternating between them:
//   paint_launcher ROUNDS NAME EXE CLASS READY_ID [NAME EXE CLASS READY_ID]...
// Each round starts every program once, in turn, and prints
//   "<NAME> round=<r> seconds=<s>"
// where s runs from just before CreateProcessW until the program's window of
// class CLASS is visible, its process is idle for input (WaitForInputIdle),
// and neither the window nor any of its children has anything left to paint
// (GetUpdateRect empty). Polled every millisecond. The program is then closed
// (WM_CLOSE, once the child control READY_ID is enabled when READY_ID is not
// 0) and waited for, so that the next start finds nothing of it.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/handle.h"
#include "common/win_compat.h"

namespace {

constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kCloseTimeoutMs = 30000;

struct Target {
    std::wstring name;
    std::wstring exe;
    std::wstring windowClass;
    int readyId = 0;
};

// The visible-or-not top-level window of `windowClass` that belongs to `pid`.
HWND WindowOf(DWORD pid, const std::wstring& windowClass) {
    for (HWND window = nullptr;
         (window = ::FindWindowExW(nullptr, window, windowClass.c_str(), nullptr)) != nullptr;) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner == pid) return window;
    }
    return nullptr;
}

BOOL CALLBACK FindUnpaintedChild(HWND child, LPARAM found) {
    if (::IsWindowVisible(child) && ::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

bool FullyPainted(HWND window) {
    if (::GetUpdateRect(window, nullptr, FALSE)) return false;
    bool unpainted = false;
    ::EnumChildWindows(window, FindUnpaintedChild, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

// Waits for the target to be ready for the next start, then closes it.
void CloseTarget(const Target& target, HANDLE process, HWND window) {
    if (target.readyId != 0) {
        const HWND ready = ::GetDlgItem(window, target.readyId);
        for (DWORD waited = 0; ready != nullptr && !::IsWindowEnabled(ready) && waited < kCloseTimeoutMs; waited += 10) {
            ::Sleep(10);
        }
    }
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process, kCloseTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process, 1);
        ::WaitForSingleObject(process, kCloseTimeoutMs);
    }
}

// Seconds from the start of `target` to its painted window; negative on failure.
double TimeToPaintedWindow(const Target& target) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + target.exe + L"\"";
    const std::wstring folder = FolderOf(target.exe);
    const auto start = std::chrono::steady_clock::now();
    if (!::CreateProcessW(target.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &info)) {
        return -1.0;
    }
    const KernelHandle process(info.hProcess);
    const KernelHandle thread(info.hThread);
    HWND window = nullptr;
    double seconds = -1.0;
    for (;;) {
        if (window == nullptr) window = WindowOf(info.dwProcessId, target.windowClass);
        if (window != nullptr && ::IsWindowVisible(window) && ::WaitForInputIdle(process.Get(), 0) == 0 &&
            FullyPainted(window)) {
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            break;
        }
        if (::WaitForSingleObject(process.Get(), 1) != WAIT_TIMEOUT) break;  // it ended without a window
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kStartTimeoutMs)) break;
    }
    if (window != nullptr) {
        CloseTarget(target, process.Get(), window);
    } else {
        ::TerminateProcess(process.Get(), 1);
        ::WaitForSingleObject(process.Get(), kCloseTimeoutMs);
    }
    return seconds;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6 || (argc - 2) % 4 != 0) {
        std::fprintf(stderr, "usage: paint_launcher ROUNDS NAME EXE CLASS READY_ID [NAME EXE CLASS READY_ID]...\n");
        return 2;
    }
    const int rounds = _wtoi(argv[1]);
    std::vector<Target> targets;
    for (int i = 2; i + 3 < argc; i += 4) targets.push_back({argv[i], argv[i + 1], argv[i + 2], _wtoi(argv[i + 3])});
    for (int round = 0; round < rounds; ++round) {
        // The order rotates, so that no program always follows the same one.
        for (std::size_t k = 0; k < targets.size(); ++k) {
            const Target& target = targets[(k + static_cast<std::size_t>(round)) % targets.size()];
            const double seconds = TimeToPaintedWindow(target);
            if (seconds < 0) {
                std::printf("%ls round=%d failed\n", target.name.c_str(), round);
                return 1;
            }
            std::printf("%ls round=%d seconds=%.6f\n", target.name.c_str(), round, seconds);
            std::fflush(stdout);
        }
    }
    return 0;
}
