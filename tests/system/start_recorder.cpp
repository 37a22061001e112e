// Notes how it was started, for tests of code that starts other programs:
// writes "<own path>.started" with its command line exactly as received, a
// line feed and its current directory (UTF-16, no BOM), then exits with 0.
// Runs under any name, .bin included.

#include <string>

#include <windows.h>

namespace {

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path;
}

std::wstring CurrentDirectory() {
    std::wstring directory(32768, L'\0');
    directory.resize(::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
    return directory;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring record = std::wstring(::GetCommandLineW()) + L"\n" + CurrentDirectory();
    const std::wstring path = OwnPath() + L".started";
    const std::wstring partial = path + L".partial";
    HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)),
                                   &written, nullptr);
    ::CloseHandle(file);
    if (!wrote) return 2;
    // Renamed into place so a waiting test never reads half a record.
    return ::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
