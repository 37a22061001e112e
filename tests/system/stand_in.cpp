#include "stand_in.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "config/log.h"

namespace {

std::wstring HelperPath() {
    std::wstring own(MAX_PATH * 4, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return (std::filesystem::path(own).parent_path() / L"stand_in_game.exe").wstring();
}

}  // namespace

TempDirectory::TempDirectory(const std::wstring& tag) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    static unsigned counter = 0;
    path_ = std::wstring(temp) + L"shutdown_" + tag + L"_" + std::to_wstring(::GetCurrentProcessId()) +
            L"_" + std::to_wstring(++counter);
    std::filesystem::create_directories(path_);
}

TempDirectory::~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

StandIn::StandIn(const std::wstring& imagePath, const std::wstring& onClose) {
    if (!::CopyFileW(HelperPath().c_str(), imagePath.c_str(), FALSE)) return;
    static unsigned counter = 0;
    const std::wstring eventName = L"Local\\StandInReady_" + std::to_wstring(::GetCurrentProcessId()) +
                                   L"_" + std::to_wstring(++counter);
    KernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready) return;
    std::wstring commandLine = L"\"" + imagePath + L"\" " + eventName + L" " + onClose;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(imagePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        return;
    }
    ::CloseHandle(info.hThread);
    process_.Reset(info.hProcess);
    id_ = info.dwProcessId;
    const HANDLE waits[] = {ready.Get(), process_.Get()};
    ready_ = ::WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
}

StandIn::~StandIn() {
    if (Running()) {
        ::TerminateProcess(process_.Get(), 99);
        ::WaitForSingleObject(process_.Get(), 5000);
    }
}

bool StandIn::Running() const {
    return process_ && ::WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

DWORD StandIn::WaitExitCode(DWORD timeoutMs) const {
    if (!process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) return ~0u;
    DWORD code = 0;
    return ::GetExitCodeProcess(process_.Get(), &code) ? code : ~0u;
}

std::vector<std::wstring> LogMessages() {
    std::ifstream file(std::filesystem::path(LogFilePath()), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    std::vector<std::wstring> messages;
    constexpr size_t kStampLength = 22;  // "[YYYY-MM-DD HH:MM:SS] "
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = bytes.substr(start, end - start);
        messages.push_back(line.size() >= kStampLength ? Utf8ToWide(line.substr(kStampLength)) : L"?");
    }
    return messages;
}

unsigned long long ElapsedMs(unsigned long long start) { return ::GetTickCount64() - start; }
