#include "stand_in.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "config/log.h"

std::wstring TestHelperPath(const std::wstring& name) {
    std::wstring own(MAX_PATH * 4, L'\0');
    own.resize(::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size())));
    return (std::filesystem::path(own).parent_path() / name).wstring();
}

bool CopyTestHelper(const std::wstring& name, const std::wstring& target) {
    return ::CopyFileW(TestHelperPath(name).c_str(), target.c_str(), FALSE) != 0;
}

bool WaitForStartRecord(const std::wstring& exePath, DWORD timeoutMs, std::wstring& commandLine,
                        std::wstring& currentDirectory) {
    const std::wstring recordPath = exePath + L".started";
    const ULONGLONG start = ::GetTickCount64();
    while (::GetFileAttributesW(recordPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (ElapsedMs(start) > timeoutMs) return false;
        ::Sleep(50);
    }
    const std::string bytes = ReadFileBytes(recordPath);
    const std::wstring record(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const size_t split = record.find(L'\n');
    if (split == std::wstring::npos) return false;
    commandLine = record.substr(0, split);
    currentDirectory = record.substr(split + 1);
    return true;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

FileHandle HoldWithoutSharing(const std::wstring& path) {
    return FileHandle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

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
    if (!CopyTestHelper(L"stand_in_game.exe", imagePath)) return;
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
    std::string bytes = ReadFileBytes(LogFilePath());
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
