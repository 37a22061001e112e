"""The release build of the patcher and the updater, as Windows 7 SP1 to 11 load
them: static imports only from KnownDLLs and only of functions Windows 7 SP1
has, newer ones looked up by name, ASLR and DEP on, no writable code, the
subsystem version 6.1, no time stamp, and the delay-load hooks our own."""
import os
import re
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
    "kernel32.dll": """AddVectoredExceptionHandler CloseHandle CreateDirectoryW CreateEventA CreateEventW CreateFileW CreateMutexW
        CreateProcessW CreateThread CreateSemaphoreA CreateToolhelp32Snapshot DeleteCriticalSection DeleteFileW DuplicateHandle
        EnterCriticalSection ExitProcess FileTimeToSystemTime FlushFileBuffers FormatMessageA FormatMessageW
        FreeLibrary GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetDiskFreeSpaceExW GetFileAttributesExW
        GetFileAttributesW GetFileSizeEx GetFinalPathNameByHandleW GetFullPathNameW GetHandleInformation GetLastError
        GetLocalTime GetModuleFileNameW GetModuleHandleA GetModuleHandleExW GetModuleHandleW GetPrivateProfileStringW
        GetProcAddress GetProcessAffinityMask GetProcessTimes GetStartupInfoW GetSystemDirectoryW
        GetSystemTimeAdjustment GetSystemTimeAsFileTime GetThreadContext GetThreadPriority GetThreadTimes
        GetTickCount64 GetVolumePathNameW GlobalFree InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent LCMapStringEx
        LeaveCriticalSection LoadLibraryA LoadLibraryExW LoadLibraryW LocalAlloc LocalFree MoveFileExW MulDiv
        MultiByteToWideChar OpenProcess OutputDebugStringA Process32FirstW Process32NextW QueryFullProcessImageNameW
        QueryPerformanceCounter QueryPerformanceFrequency RaiseException ReadFile ReleaseSemaphore
        RemoveVectoredExceptionHandler ResetEvent ResumeThread RtlCaptureContext RtlLookupFunctionEntry RtlUnwindEx
        RtlVirtualUnwind SetDllDirectoryW SetEvent SetFileAttributesW SetFilePointerEx SetLastError
        SetProcessAffinityMask SetSystemTime SetThreadContext SetThreadPriority SetThreadStackGuarantee SetUnhandledExceptionFilter Sleep
        SuspendThread TerminateProcess TlsAlloc TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect
        VirtualQuery WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteFile __C_specific_handler""",
    "user32.dll": """AdjustWindowRectEx AllowSetForegroundWindow AttachThreadInput BringWindowToTop CreateWindowExW
        DefWindowProcW DestroyIcon DestroyWindow DispatchMessageW DrawTextW EnableWindow EnumThreadWindows EnumWindows FillRect
        GetClientRect GetDC GetDlgCtrlID GetDlgItem GetForegroundWindow GetMessageW GetMonitorInfoW GetSystemMetrics
        GetWindow GetWindowRect GetWindowTextW GetWindowThreadProcessId InvalidateRect IsIconic IsWindow
        IsWindowEnabled IsWindowVisible LoadCursorW LoadIconW LoadImageW MessageBoxW MonitorFromWindow PeekMessageW
        PostMessageW PostQuitMessage RegisterClassExW ReleaseDC SendDlgItemMessageW SendMessageW SetActiveWindow
        SetForegroundWindow SetWindowPos SetWindowTextW ShowWindow ShowWindowAsync SystemParametersInfoW
        TranslateMessage UpdateWindow WaitForInputIdle""",
    "gdi32.dll": """CreateFontW CreatePen CreateSolidBrush DeleteObject GetDeviceCaps RoundRect SelectObject SetBkMode
        SetTextColor""",
    "msvcrt.dll": """___lc_codepage_func ___mb_cur_max_func __iob_func __mb_cur_max __p__commode __p__fmode
        __p__wcmdln __set_app_type __setusermatherr __wgetmainargs __winitenv _amsg_exit _assert _beginthreadex _cexit
        _close _commode _endthreadex _errno _fmode _initterm _iob _onexit _read _setjmp _setjmp3 _strdup _stricmp
        _ultoa _wcmdln _wcsnicmp abort atoi calloc exit fprintf fputc fputs fputwc free fwprintf fwrite iswalnum iswalpha iswctype
        localeconv longjmp malloc memchr memcmp memcpy memmove memset printf realloc setlocale signal strchr strcmp
        strerror strlen strncmp vfprintf wcslen""",
    "winhttp.dll": """WinHttpCloseHandle WinHttpConnect WinHttpCrackUrl WinHttpGetDefaultProxyConfiguration
        WinHttpGetIEProxyConfigForCurrentUser WinHttpGetProxyForUrl WinHttpOpen WinHttpOpenRequest
        WinHttpQueryDataAvailable WinHttpQueryHeaders WinHttpReadData WinHttpReceiveResponse WinHttpSendRequest
        WinHttpSetOption WinHttpSetTimeouts""",
    "bcrypt.dll": """BCryptCloseAlgorithmProvider BCryptCreateHash BCryptDestroyHash BCryptDestroyKey BCryptFinishHash
        BCryptGetProperty BCryptHashData BCryptImportKeyPair BCryptOpenAlgorithmProvider BCryptVerifySignature""",
}.items()}

# Newer than Windows 7 SP1 (or only with an update): looked up by name at run time.
POLICY = [b"GetProcessUserModeExceptionPolicy", b"SetProcessUserModeExceptionPolicy"]
LOOKED_UP = {PROGRAMS[0]: [b"SetDefaultDllDirectories", b"GetDpiForWindow", b"AdjustWindowRectExForDpi", *POLICY],
             PROGRAMS[1]: [b"SetDefaultDllDirectories", *POLICY]}


def run(tool, path, *options):
    return subprocess.run([os.environ[tool], *options, path], check=True, capture_output=True, text=True).stdout


def imports(program):
    tables = re.findall(r"DLL Name: (\S+)\n.*\n((?:\t[0-9a-f]+\t +\d+ +\S+\n)*)", run("OBJDUMP", program, "-p"))
    return {dll.lower(): set(re.findall(r"(\S+)\n", entries)) for dll, entries in tables}


def newer_than_windows_7(imported):
    newer = {dll: names - WINDOWS_7.get(dll, set()) for dll, names in imported.items()}
    return {dll: names for dll, names in newer.items() if names}


@pytest.mark.parametrize("program", PROGRAMS)
def test_imports_are_known_dlls_and_windows_7_functions_newer_ones_looked_up(program):
    assert {"CreateFileW", "GetLastError"} <= imports(program).get("kernel32.dll", set())  # the table was read
    assert set(imports(program)) <= KNOWN_DLLS
    assert newer_than_windows_7(imports(program)) == {}
    data = Path(program).read_bytes()
    assert [name for name in LOOKED_UP[program] if b"\0" + name + b"\0" not in data] == []


@pytest.mark.parametrize("program", PROGRAMS)
def test_headers_ask_for_windows_7_aslr_and_dep_without_a_time_stamp(program):
    header = run("OBJDUMP", program, "-p")
    assert re.findall(r"^Major(?:OSystem|Subsystem)Version\t(\d+)\nMinor\w+\t(\d+)", header, re.M) == [("6", "1")] * 2
    assert "Time/Date\t\tThu Jan  1 00:00:00 1970" in header  # no time stamp
    assert "\tDYNAMIC_BASE\n" in header and "\tNX_COMPAT\n" in header
    # Executable sections show as CODE, writable ones without READONLY.
    sections = re.findall(r"^ +\d+ (\S+) .*\n +(.*)$", run("OBJDUMP", program, "-h"), re.M)
    assert "CODE" in dict(sections).get(".text", "") and ".data" in dict(sections)  # the sections were read
    assert [name for name, flags in sections if "CODE" in flags and "READONLY" not in flags] == []


def test_delay_loads_are_windows_7_functions_behind_our_own_hooks():
    # ld leaves the delay-import directory empty: the unstripped copy's symbols
    # show the delay-import libraries (made from cmake/delay/*.def) and the hooks.
    symbols = run("NM", Path(os.environ["UNSTRIPPED"]) / Path(PROGRAMS[0]).name)
    delayed = {match + ".dll" for match in re.findall(r" __DELAY_IMPORT_DESCRIPTOR_lib(\w+)_delay_a$", symbols, re.M)}
    functions = {dll: {line.split("@")[0] for line in (ROOT / f"cmake/delay/{dll[:-4]}.def").read_text().split()
                       if "@" in line} for dll in delayed}
    assert delayed == {"winhttp.dll", "bcrypt.dll"} and newer_than_windows_7(functions) == {}
    # The runtime's own hooks are empty (.bss); ours are initialised data.
    assert re.findall(r" D _?(__pfnDli\w+)$", symbols, re.M) == ["__pfnDliFailureHook2", "__pfnDliNotifyHook2"]
