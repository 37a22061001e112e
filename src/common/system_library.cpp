#include "common/system_library.h"

bool SystemHasDllSearchFlags() {
    static const bool has = [] {
        const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
        return kernel32 != nullptr && ::GetProcAddress(kernel32, "SetDefaultDllDirectories") != nullptr;
    }();
    return has;
}

DWORD SystemLibraryLoadFlags() {
    return SystemHasDllSearchFlags() ? LOAD_LIBRARY_SEARCH_SYSTEM32 : LOAD_WITH_ALTERED_SEARCH_PATH;
}

std::wstring SystemLibraryPath(const std::wstring& name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(folder, length) + L"\\" + name;
}

HMODULE LoadSystemLibrary(const std::wstring& name, DWORD flags) {
    const std::wstring path = SystemLibraryPath(name);
    if (path.empty()) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return nullptr;
    }
    // A DLL's imports are searched for like any name: from System32 with the
    // search flags; without them, the altered order starts in the DLL's own
    // folder, and the process has dropped the current one.
    if ((flags & LOAD_LIBRARY_AS_DATAFILE) == 0) {
        flags |= SystemLibraryLoadFlags();
    }
    return ::LoadLibraryExW(path.c_str(), nullptr, flags);
}
