#include "app/dll_loading.h"

#include <cstring>
#include <string>

#include "app/main_window.h"
#include "common/app_paths.h"
#include "common/system_library.h"
#include "config/error_text.h"
#include "config/log.h"

#include <delayimp.h>  // after windows.h, whose types it uses

namespace {

std::wstring WidenAscii(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    return wide;
}

// A system DLL (or one of its functions) missing means a damaged Windows: the
// player is told which, and the program ends. Ended rather than exited: no
// other DLL's detach code runs in a process that lacks one, and the log line
// is on disk already.
// Nothing may leave a hook: the helper that calls it is C.
[[noreturn]] void EndForMissingLibrary(const char* dll, DWORD error) {
    try {
        const std::wstring message =
            L"Nie można załadować biblioteki systemowej " + WidenAscii(dll) + L": " + WindowsErrorText(error);
        if (!AppDirectory.empty()) WriteLog(L"BLAD: " + message);
        ::MessageBoxW(nullptr, message.c_str(), kPatcherCaption, MB_OK | MB_ICONERROR);
    } catch (...) {
    }
    ::TerminateProcess(::GetCurrentProcess(), 1);
    ::ExitProcess(1);  // not reached
}

// Binds each delay-loaded DLL (winhttp, bcrypt) from System32. Never returns
// null for a load: the helper would then search for the name itself.
// Wine resolves a system DLL's own imports from the program's folder first, and
// winhttp imports bcrypt: bcrypt is bound before it, so the loader finds it
// loaded already.
FARPROC WINAPI LoadFromSystem32(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    HMODULE library = nullptr;
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    try {
        if (_stricmp(info->szDll, "winhttp.dll") == 0) LoadSystemLibrary(L"bcrypt.dll");
        library = LoadSystemLibrary(WidenAscii(info->szDll));
        if (library == nullptr) error = ::GetLastError();
    } catch (...) {
    }
    if (library == nullptr) EndForMissingLibrary(info->szDll, error);
    return reinterpret_cast<FARPROC>(library);
}

// A function the system's DLL lacks (or a load the helper tried itself).
FARPROC WINAPI FailForMissingLibrary(unsigned, PDelayLoadInfo info) {
    EndForMissingLibrary(info->szDll, info->dwLastError);
}

}  // namespace

// Read by the delay-load helper; declared extern "C" by delayimp.h. Defined in
// the object wWinMain calls into, so the linker never takes the runtime's
// empty defaults instead.
PfnDliHook __pfnDliNotifyHook2 = LoadFromSystem32;
PfnDliHook __pfnDliFailureHook2 = FailForMissingLibrary;

void LimitDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault != nullptr) {
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    } else {
        ::SetDllDirectoryW(L"");  // the program's own folder stays first: nothing is loaded by name
    }
}

HMODULE LoadRequiredSystemLibrary(const char* name) {
    const HMODULE library = LoadSystemLibrary(WidenAscii(name));
    if (library == nullptr) EndForMissingLibrary(name, ::GetLastError());
    return library;
}

FARPROC RequiredSystemFunction(HMODULE library, const char* name, const char* function) {
    const FARPROC address = ::GetProcAddress(library, function);
    if (address == nullptr) EndForMissingLibrary(name, ::GetLastError());
    return address;
}
