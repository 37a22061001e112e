#include "config/crash_report.h"

#include <cstddef>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <iterator>
#include <string>

#include "common/app_paths.h"
#include "common/caption.h"
#include "common/handle.h"
#include "common/long_path.h"
#include "common/system_library.h"
#include "common/win_compat.h"
#include "config/log.h"

#include <dbghelp.h>  // after windows.h, whose types it uses

namespace {

constexpr wchar_t kCrashText[] =
    L"Patcher napotkał nieoczekiwany błąd i zostanie zamknięty. Szczegóły zapisano w pliku patcher.txt.";
constexpr wchar_t kDumpFileName[] = L"patcher-crash.dmp";
constexpr char kLinePrefix[] = "BLAD: Nieoczekiwany błąd programu ";
// A reporting thread that has not taken the report by then cannot run: the
// faulting thread then reports itself.
constexpr DWORD kReporterStartMs = 3000;
// The log line and the dump take well under a second; a report whose message
// is not up by then waits on a lock the faulting thread holds (the heap's, the
// loader's) and never will be: the process ends with 1 rather than hang.
constexpr DWORD kReportBoundMs = 60000;
constexpr DWORD kPollMs = 20;
// Room for the filter on a thread whose stack overflowed; the report itself
// runs on the reporting thread's own stack.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
constexpr std::size_t kPathCapacity = 32768 + 32;  // "\\?\UNC", a long path, a backslash and a file name

// Everything the report needs is reserved up front: the fault may come from a
// broken heap, and a thread whose stack overflowed has almost none left.
wchar_t ExeDirectory[kPathCapacity];  // the log's folder until AppDirectory is set
wchar_t DbghelpPath[MAX_PATH + 16];
DWORD DbghelpFlags = 0;
wchar_t FilePath[kPathCapacity];
wchar_t ModulePath[kPathCapacity];
char ModuleName[1024];
char LogLine[1200];

EXCEPTION_POINTERS* Crash = nullptr;
volatile DWORD CrashThreadId = 0;
volatile DWORD ReporterThreadId = 0;
volatile LONG Entered = 0;  // the first fault owns the report
volatile LONG Claimed = 0;  // the reporting thread or the faulting thread, whichever comes first
HANDLE Wake = nullptr;      // set once, by the first fault; the reporting thread waits for it
HANDLE Reporter = nullptr;
// The window procedure's frames on the window thread, and the program's own
// image, for faults the system would swallow.
volatile LONG WindowProcedureDepth = 0;
volatile DWORD WindowThreadId = 0;
ULONG_PTR ImageStart = 0;
ULONG_PTR ImageEnd = 0;

template <typename Char>
std::size_t Append(Char* buffer, std::size_t capacity, std::size_t at, const Char* text) {
    while (*text != 0 && at + 1 < capacity) buffer[at++] = *text++;
    buffer[at] = 0;
    return at;
}

// `value` in hexadecimal (upper or lower case), at least `digits` digits.
std::size_t AppendHex(char* buffer, std::size_t capacity, std::size_t at, ULONG_PTR value, int digits, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[2 * sizeof(value) + 1]{};
    int count = 0;
    do {
        reversed[count++] = symbols[value & 0xF];
        value >>= 4;
    } while (value != 0 || count < digits);
    while (count > 0 && at + 1 < capacity) buffer[at++] = reversed[--count];
    buffer[at] = 0;
    return at;
}

std::size_t AppendDecimal(char* buffer, std::size_t capacity, std::size_t at, unsigned value, int digits) {
    char text[8]{};
    for (int i = digits - 1; i >= 0; --i, value /= 10) text[i] = static_cast<char>('0' + value % 10);
    return Append(buffer, capacity, at, text);
}

// The log's "[YYYY-MM-DD HH:MM:SS] " stamp.
std::size_t AppendTimestamp(char* buffer, std::size_t capacity) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    const struct {
        unsigned value;
        int digits;
        const char* after;
    } parts[] = {{now.wYear, 4, "-"},   {now.wMonth, 2, "-"},  {now.wDay, 2, " "},
                 {now.wHour, 2, ":"},   {now.wMinute, 2, ":"}, {now.wSecond, 2, "] "}};
    std::size_t at = Append(buffer, capacity, 0, "[");
    for (const auto& part : parts) {
        at = AppendDecimal(buffer, capacity, at, part.value, part.digits);
        at = Append(buffer, capacity, at, part.after);
    }
    return at;
}

// FilePath = the log's folder joined with `name`, in the "\\?\" form when
// it is long. The folder is the executable's as the system reports it (full
// and clean), so the form is a prefix; nothing is allocated.
void BuildFilePath(const wchar_t* name) {
    const wchar_t* directory = AppDirectory.empty() ? ExeDirectory : AppDirectory.c_str();
    std::size_t length = 0;
    while (directory[length] != 0) ++length;
    const bool unc = directory[0] == L'\\' && directory[1] == L'\\' && directory[2] != L'?' && directory[2] != L'.';
    const bool drive = length >= 3 && directory[1] == L':';
    std::size_t at = 0;
    if (length + 1 + std::wcslen(name) >= kLongPathThreshold && (unc || drive)) {
        at = Append(FilePath, kPathCapacity, 0, unc ? L"\\\\?\\UNC" : L"\\\\?\\");
        if (unc) ++directory;  // "\\?\UNC" + "\server\share..."
    }
    at = Append(FilePath, kPathCapacity, at, directory);
    if (at > 0 && FilePath[at - 1] != L'\\' && FilePath[at - 1] != L'/') at = Append(FilePath, kPathCapacity, at, L"\\");
    Append(FilePath, kPathCapacity, at, name);
}

// The file name of the module holding `address` ("?" when none does) and its base.
ULONG_PTR FindModule(const void* address) {
    Append(ModuleName, sizeof(ModuleName), 0, "?");
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<const wchar_t*>(address), &module)) {
        return 0;
    }
    const DWORD length = ::GetModuleFileNameW(module, ModulePath, static_cast<DWORD>(kPathCapacity));
    if (length > 0 && length < kPathCapacity) {
        const wchar_t* name = ModulePath;
        for (const wchar_t* c = ModulePath; *c != 0; ++c) {
            if (*c == L'\\' || *c == L'/') name = c + 1;
        }
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, name, -1, ModuleName, sizeof(ModuleName), nullptr, nullptr);
        if (size <= 0) Append(ModuleName, sizeof(ModuleName), 0, "?");
    }
    return reinterpret_cast<ULONG_PTR>(module);
}

// "BLAD: Nieoczekiwany błąd programu C0000005 pod adresem Zerandis_Patcher.exe+0x1a2b3."
// Outside every module the number is the address itself.
void WriteCrashLine(const EXCEPTION_RECORD& record) {
    const ULONG_PTR base = FindModule(record.ExceptionAddress);
    const ULONG_PTR offset = reinterpret_cast<ULONG_PTR>(record.ExceptionAddress) - base;
    std::size_t at = AppendTimestamp(LogLine, sizeof(LogLine));
    at = Append(LogLine, sizeof(LogLine), at, kLinePrefix);
    at = AppendHex(LogLine, sizeof(LogLine), at, record.ExceptionCode, 8, true);
    at = Append(LogLine, sizeof(LogLine), at, " pod adresem ");
    at = Append(LogLine, sizeof(LogLine), at, ModuleName);
    at = Append(LogLine, sizeof(LogLine), at, "+0x");
    at = AppendHex(LogLine, sizeof(LogLine), at, offset, 1, false);
    at = Append(LogLine, sizeof(LogLine), at, ".");
    BuildFilePath(kLogFileName);
    AppendCrashLogLine(FilePath, LogLine, static_cast<DWORD>(at));
}

// Threads, their stacks and the memory they point at, the module list and
// the faulting thread's exception: a few hundred KiB, never the whole memory.
// dbghelp comes from System32 only (its own imports too, with the search flag
// where the system has it), and only now: a run without a crash never loads it.
void WriteMinidump() {
    using WriteDumpFunction = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                            PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
    if (DbghelpPath[0] == 0) return;
    const HMODULE dbghelp = ::LoadLibraryExW(DbghelpPath, nullptr, DbghelpFlags);
    if (dbghelp == nullptr) return;
    const auto writeDump = reinterpret_cast<WriteDumpFunction>(
        reinterpret_cast<void*>(::GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    if (writeDump == nullptr) return;
    BuildFilePath(kDumpFileName);
    FileHandle file(::CreateFileW(FilePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    MINIDUMP_EXCEPTION_INFORMATION exception{CrashThreadId, Crash, FALSE};
    const auto type = static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithIndirectlyReferencedMemory);
    writeDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file.Get(), type, &exception, nullptr, nullptr);
}

void Report() {
    WriteCrashLine(*Crash->ExceptionRecord);
    WriteMinidump();
    ::MessageBoxW(nullptr, kCrashText, kPatcherCaption, MB_OK | MB_ICONERROR);
    ::TerminateProcess(::GetCurrentProcess(), 1);
}

bool ClaimReport() { return ::InterlockedCompareExchange(&Claimed, 1, 0) == 0; }

// Made at start and parked: a thread made at the fault would start on a heap
// or loader that the faulting thread may hold, and its stack may be spent.
DWORD WINAPI ReportingThread(void*) {
    ::WaitForSingleObject(Wake, INFINITE);
    if (ClaimReport()) Report();
    return 0;
}

BOOL CALLBACK NoteWindow(HWND, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// The reporting thread's message is up: it creates no other window.
bool ReportShown() {
    bool found = false;
    ::EnumThreadWindows(ReporterThreadId, NoteWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Until `done` holds, at most `bound` ms; true when it held.
template <typename Condition>
bool WaitUntil(Condition done, DWORD bound) {
    for (DWORD waited = 0; !done(); waited += kPollMs) {
        if (waited >= bound) return false;
        ::Sleep(kPollMs);
    }
    return true;
}

// The reporting thread has the report: the message it shows waits for the
// player for as long as it takes, but a report that cannot get that far ends
// the process.
[[noreturn]] void WaitForReporter() {
    if (WaitUntil(ReportShown, kReportBoundMs)) ::WaitForSingleObject(Reporter, INFINITE);
    ::TerminateProcess(::GetCurrentProcess(), 1);
    for (;;) ::Sleep(INFINITE);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
    const DWORD self = ::GetCurrentThreadId();
    if (::InterlockedExchange(&Entered, 1) != 0) {
        // A fault inside the report ends the process at once; another
        // thread's fault waits for the report, which ends the process.
        if (self == CrashThreadId || self == ReporterThreadId) ::TerminateProcess(::GetCurrentProcess(), 1);
        for (;;) ::Sleep(INFINITE);
    }
    CrashThreadId = self;
    Crash = pointers;
    if (Reporter != nullptr && self != ReporterThreadId) {
        ::SetEvent(Wake);
        WaitUntil([] { return Claimed != 0; }, kReporterStartMs);
    }
    if (ClaimReport()) Report();
    WaitForReporter();
}

bool IsFatalFault(DWORD code) {
    switch (code) {
        case EXCEPTION_ACCESS_VIOLATION:
        case EXCEPTION_ILLEGAL_INSTRUCTION:
        case EXCEPTION_PRIV_INSTRUCTION:
        case EXCEPTION_INT_DIVIDE_BY_ZERO:
        case EXCEPTION_STACK_OVERFLOW:
        case EXCEPTION_IN_PAGE_ERROR:
            return true;
        default:
            return false;
    }
}

// Where the system may swallow a fault inside a window procedure it calls
// back: a fatal fault of the program's own code while the window thread is
// inside its window procedure goes to the report at once. Nothing else is
// touched: the program handles no such fault itself, and every other
// exception (the system's own, C++ throws) goes on as before.
LONG WINAPI OnFaultInWindowProcedure(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
    const auto address = reinterpret_cast<ULONG_PTR>(record.ExceptionAddress);
    if (WindowProcedureDepth > 0 && ::GetCurrentThreadId() == WindowThreadId && IsFatalFault(record.ExceptionCode) &&
        address >= ImageStart && address < ImageEnd) {
        OnUnhandledException(pointers);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void NoteOwnImage() {
    const auto base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    ImageStart = reinterpret_cast<ULONG_PTR>(base);
    ImageEnd = ImageStart + nt->OptionalHeader.SizeOfImage;
}

// 64-bit Windows swallows a fault inside a window procedure called back from
// the kernel (WM_CREATE, WM_SIZE, painting...) unless the process asks it not to.
void StopSwallowingWindowProcedureFaults() {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto get = reinterpret_cast<GetExceptionPolicyCall>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "GetProcessUserModeExceptionPolicy")));
    const auto set = reinterpret_cast<SetExceptionPolicyCall>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetProcessUserModeExceptionPolicy")));
    if (StopSwallowingCallbackFaults(get, set)) return;
    NoteOwnImage();
    ::AddVectoredExceptionHandler(1, OnFaultInWindowProcedure);
}

void AwaitCrashReportAtExit() { AwaitCrashReport(); }

// The report of a std::terminate stands where the runtime called the handler;
// the dump holds the stack that led there.
[[noreturn]] void OnTerminate() {
    CONTEXT context{};
    ::RtlCaptureContext(&context);
    EXCEPTION_RECORD record{};
    record.ExceptionCode = kTerminateExceptionCode;
    record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
    record.ExceptionAddress = __builtin_return_address(0);
    EXCEPTION_POINTERS pointers{&record, &context};
    OnUnhandledException(&pointers);
    ::TerminateProcess(::GetCurrentProcess(), 1);
    for (;;) ::Sleep(INFINITE);
}

}  // namespace

void InstallCrashReporting() {
    const DWORD length = ::GetModuleFileNameW(nullptr, ExeDirectory, static_cast<DWORD>(kPathCapacity));
    std::size_t cut = 0;
    for (std::size_t i = 0; i < length && i < kPathCapacity; ++i) {
        if (ExeDirectory[i] == L'\\' || ExeDirectory[i] == L'/') cut = i;
    }
    ExeDirectory[cut] = 0;
    const std::wstring dbghelp = SystemLibraryPath(L"dbghelp.dll");
    if (dbghelp.size() < std::size(DbghelpPath)) Append(DbghelpPath, std::size(DbghelpPath), 0, dbghelp.c_str());
    DbghelpFlags = SystemLibraryLoadFlags();  // an empty path means no dump rather than one from elsewhere
    ::SetUnhandledExceptionFilter(OnUnhandledException);
    std::set_terminate(OnTerminate);
    GuardThreadStack();
    Wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD reporterId = 0;
    if (Wake != nullptr) Reporter = ::CreateThread(nullptr, 0, ReportingThread, nullptr, 0, &reporterId);
    ReporterThreadId = reporterId;
    std::atexit(AwaitCrashReportAtExit);
    StopSwallowingWindowProcedureFaults();
}

void GuardThreadStack() {
    ULONG guarantee = kStackGuaranteeBytes;
    ::SetThreadStackGuarantee(&guarantee);  // without it a stack overflow may end the process unreported
}

WindowProcedureScope::WindowProcedureScope() {
    WindowThreadId = ::GetCurrentThreadId();
    ::InterlockedIncrement(&WindowProcedureDepth);
}

WindowProcedureScope::~WindowProcedureScope() { ::InterlockedDecrement(&WindowProcedureDepth); }

void AwaitCrashReport() {
    if (Entered == 0) return;
    for (;;) ::Sleep(INFINITE);
}

bool StopSwallowingCallbackFaults(GetExceptionPolicyCall get, SetExceptionPolicyCall set) {
    DWORD flags = 0;
    if (get == nullptr || set == nullptr || !get(&flags)) return false;
    return set(flags & ~kCallbackFilterEnabled) != FALSE;
}
