"""The release build of the patcher and the updater, as Windows 7 SP1 to 11 load
them: static imports only from KnownDLLs and only of functions Windows 7 SP1
has, newer ones looked up by name, ASLR and DEP on, no writable code, the
subsystem version 6.1, no time stamp, and the delay-load hooks our own."""
import itertools
import os
import re
import struct
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PROGRAMS = [os.environ["PATCHER_EXE"], os.environ["PATCHER_UPDATER"]]
# Windows loads these from System32 whatever lies beside a program.
KNOWN_DLLS = {"advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "kernel32.dll", "msvcrt.dll",
              "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "setupapi.dll", "shell32.dll",
              "shlwapi.dll", "user32.dll", "ws2_32.dll"}
# Functions the programs may bind at load or first use: each is in Windows 7 SP1
# (most since XP or Vista). A new import fails here until it is checked too.
WINDOWS_7 = {dll: set(names.split()) for dll, names in {
    "kernel32.dll": """AddVectoredExceptionHandler CloseHandle CreateDirectoryW CreateEventA CreateEventW CreateFileW
        CreateMutexW CreateProcessW CreateSemaphoreA CreateThread CreateToolhelp32Snapshot DeleteCriticalSection
        DeleteFileW DuplicateHandle EnterCriticalSection ExitProcess FileTimeToSystemTime FindClose FindFirstFileW
        FindNextFileW FlushFileBuffers FormatMessageA FormatMessageW FreeLibrary GetCurrentProcess GetCurrentProcessId
        GetCurrentThread GetCurrentThreadId GetExitCodeProcess GetFileAttributesExW GetFileAttributesW GetFileSizeEx
        GetFinalPathNameByHandleW GetFullPathNameW GetHandleInformation GetLastError GetLocalTime GetModuleFileNameW
        GetModuleHandleA GetModuleHandleExW GetModuleHandleW GetPrivateProfileStringW GetProcAddress
        GetProcessAffinityMask GetProcessTimes GetStartupInfoA GetStartupInfoW GetSystemDirectoryW
        GetSystemTimeAdjustment GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetThreadTimes GetTickCount
        GetTickCount64 GlobalFree InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LCMapStringEx
        LeaveCriticalSection LoadLibraryA LoadLibraryExW LoadLibraryW LocalAlloc LocalFree MoveFileExW MulDiv
        MultiByteToWideChar OpenProcess OutputDebugStringA Process32FirstW Process32NextW QueryFullProcessImageNameW
        QueryPerformanceCounter QueryPerformanceFrequency RaiseException ReadFile ReleaseSemaphore
        RemoveVectoredExceptionHandler ResetEvent ResumeThread RtlAddFunctionTable RtlCaptureContext
        RtlLookupFunctionEntry RtlUnwind RtlUnwindEx RtlVirtualUnwind SetDllDirectoryW SetEndOfFile SetEvent
        SetFileAttributesW SetFilePointerEx SetLastError SetProcessAffinityMask SetSystemTime SetThreadContext
        SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread TerminateProcess TlsAlloc TlsFree
        TlsGetValue TlsSetValue TryEnterCriticalSection UnhandledExceptionFilter VirtualProtect VirtualQuery
        WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteFile __C_specific_handler""",
    "user32.dll": """AdjustWindowRectEx AllowSetForegroundWindow AttachThreadInput BringWindowToTop CreateWindowExW
        DefWindowProcW DestroyIcon DestroyWindow DispatchMessageW DrawTextW EnableWindow EnumWindows FillRect
        GetClientRect GetDC GetDlgCtrlID GetDlgItem GetForegroundWindow GetMessageW GetMonitorInfoW GetSystemMetrics
        GetWindow GetWindowRect GetWindowTextW GetWindowThreadProcessId InvalidateRect IsIconic IsWindow
        IsWindowEnabled IsWindowVisible LoadCursorW LoadIconW LoadImageW MessageBoxW MonitorFromWindow PeekMessageW
        PostMessageW PostQuitMessage RegisterClassExW ReleaseDC SendDlgItemMessageW SendMessageW SetActiveWindow
        SetForegroundWindow SetWindowPos SetWindowTextW ShowWindow ShowWindowAsync SystemParametersInfoW
        TranslateMessage UpdateWindow WaitForInputIdle""",
    "gdi32.dll": "CreateFontW CreatePen CreateSolidBrush DeleteObject GetDeviceCaps RoundRect SelectObject SetBkMode "
                 "SetTextColor",
    "msvcrt.dll": """___lc_codepage_func ___mb_cur_max_func __dllonexit __getmainargs __iob_func __lconv_init
        __set_app_type __setusermatherr __wgetmainargs __winitenv _amsg_exit _assert _beginthreadex _cexit _close
        _commode _endthreadex _errno _fmode _fpreset _initterm _iob _lock _onexit _read _setjmp _setjmp3 _strdup
        _stricmp _ultoa _unlock _wcmdln _wcsnicmp abort calloc exit fprintf fputc fputs fputwc free fwprintf fwrite
        iswctype localeconv longjmp malloc memchr memcmp memcpy memmove memset printf realloc signal strcmp strerror
        strlen strncmp vfprintf wcslen __mb_cur_max __p__commode __p__fmode __p__wcmdln atoi setlocale strchr""",
    "winhttp.dll": """WinHttpCloseHandle WinHttpConnect WinHttpCrackUrl WinHttpGetDefaultProxyConfiguration
        WinHttpGetIEProxyConfigForCurrentUser WinHttpGetProxyForUrl WinHttpOpen WinHttpOpenRequest
        WinHttpQueryDataAvailable WinHttpQueryHeaders WinHttpReadData WinHttpReceiveResponse WinHttpSendRequest
        WinHttpSetOption WinHttpSetTimeouts""",
    "bcrypt.dll": """BCryptCloseAlgorithmProvider BCryptCreateHash BCryptDestroyHash BCryptDestroyKey BCryptFinishHash
        BCryptGetProperty BCryptHashData BCryptImportKeyPair BCryptOpenAlgorithmProvider BCryptVerifySignature""",
}.items()}
# Newer than Windows 7 SP1 (or only with an update): looked up by name at run time.
LOOKED_UP = {PROGRAMS[0]: [b"SetDefaultDllDirectories", b"GetDpiForWindow", b"AdjustWindowRectExForDpi"],
             PROGRAMS[1]: [b"SetDefaultDllDirectories"]}


class Image:
    """The parts of a PE file the contract is about."""

    def __init__(self, path):
        self.data = data = Path(path).read_bytes()
        header = struct.unpack_from("<I", data, 0x3C)[0]
        count, self.timestamp, _, _, optional_size = struct.unpack_from("<HIIIH", data, header + 6)
        optional = header + 24
        self.wide = struct.unpack_from("<H", data, optional)[0] == 0x20B  # PE32+
        self.versions = struct.unpack_from("<HH4xHH", data, optional + 40)  # OS, subsystem
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        self.import_rva = struct.unpack_from("<I", data, optional + (120 if self.wide else 104))[0]
        self.sections = [struct.unpack_from("<8sIIII12xI", data, optional + optional_size + 40 * i)
                         for i in range(count)]  # name, size, rva, raw size, raw offset, flags

    def word(self, rva, size=4):
        offset = next(raw + rva - va for _, size_, va, _, raw, _ in self.sections if va <= rva < va + size_)
        return int.from_bytes(self.data[offset:offset + size], "little"), offset

    def text(self, rva):
        offset = self.word(rva)[1]
        return self.data[offset:self.data.index(b"\0", offset)].decode()

    def imports(self):
        found, size = {}, 8 if self.wide else 4
        for descriptor in itertools.count(self.import_rva, 20):
            if not (name := self.word(descriptor + 12)[0]):
                return found
            table = self.word(descriptor)[0] or self.word(descriptor + 16)[0]
            entries = itertools.takewhile(bool, (self.word(at, size)[0] for at in itertools.count(table, size)))
            found[self.text(name).lower()] = {self.text(entry + 2) for entry in entries}  # no ordinals here


def newer_than_windows_7(imported):
    newer = {dll: names - WINDOWS_7.get(dll, set()) for dll, names in imported.items()}
    return {dll: names for dll, names in newer.items() if names}


@pytest.mark.parametrize("program", PROGRAMS)
def test_imports_are_known_dlls_and_windows_7_functions_newer_ones_looked_up(program):
    image = Image(program)
    assert set(image.imports()) <= KNOWN_DLLS
    assert newer_than_windows_7(image.imports()) == {}
    assert [name for name in LOOKED_UP[program] if b"\0" + name + b"\0" not in image.data] == []


@pytest.mark.parametrize("program", PROGRAMS)
def test_headers_ask_for_windows_7_aslr_and_dep_without_a_time_stamp(program):
    image = Image(program)
    assert (image.versions, image.timestamp) == ((6, 1, 6, 1), 0)
    assert image.dll_characteristics & 0x0140 == 0x0140  # DYNAMIC_BASE, NX_COMPAT
    assert [name for name, *_, flags in image.sections if flags & 0xA0000000 == 0xA0000000] == []  # write + execute


def test_delay_loads_are_windows_7_functions_behind_our_own_hooks():
    # ld leaves the delay-import directory empty: the unstripped copy's symbols
    # show the delay-import libraries (made from cmake/delay/*.def) and the hooks.
    symbols = subprocess.run([os.environ["NM"], Path(os.environ["UNSTRIPPED"]) / Path(PROGRAMS[0]).name],
                             check=True, capture_output=True, text=True).stdout
    delayed = {match + ".dll" for match in re.findall(r" __DELAY_IMPORT_DESCRIPTOR_lib(\w+)_delay_a$", symbols, re.M)}
    functions = {dll: {line.split("@")[0] for line in (ROOT / f"cmake/delay/{dll[:-4]}.def").read_text().split()
                       if "@" in line} for dll in delayed}
    assert delayed == {"winhttp.dll", "bcrypt.dll"} and newer_than_windows_7(functions) == {}
    # The runtime's own hooks are empty (.bss); ours are initialised data.
    assert re.findall(r" D _?(__pfnDli\w+)$", symbols, re.M) == ["__pfnDliFailureHook2", "__pfnDliNotifyHook2"]
