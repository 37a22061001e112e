// Linked only into the test build of the patcher: a file "crash-<where>.test"
// beside it makes the program fail once its window is up, on the window thread
// (main), on a thread of its own (worker) or through std::terminate (terminate).

#include <windows.h>

#include <string>
#include <thread>

namespace {

constexpr UINT kFaultMessage = WM_APP + 0x300;
WNDPROC OriginalProc = nullptr;

void Fault() {
    volatile int* volatile nowhere = nullptr;  // volatile both: a real store, neither dropped nor made a trap
    *nowhere = 1;
}

LRESULT CALLBACK FaultingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFaultMessage) Fault();
    return ::CallWindowProcW(OriginalProc, window, message, wParam, lParam);
}

bool Requested(const wchar_t* where) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path, length);
    file = file.substr(0, file.find_last_of(L'\\') + 1) + L"crash-" + where + L".test";
    return ::GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ThrowOutOfNoexcept() noexcept {
    void (*volatile thrower)() = [] { throw 1; };  // through a pointer: no warning that it must terminate
    thrower();
}

void FailOnceTheWindowIsUp() {
    HWND window = nullptr;
    DWORD pid = 0;
    while (window == nullptr || pid != ::GetCurrentProcessId() || !::IsWindowVisible(window)) {
        ::Sleep(50);
        window = ::FindWindowW(L"ZerandisPatcherWindow", nullptr);
        ::GetWindowThreadProcessId(window, &pid);
    }
    if (Requested(L"worker")) Fault();
    if (Requested(L"terminate")) ThrowOutOfNoexcept();
    OriginalProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FaultingProc)));
    ::PostMessageW(window, kFaultMessage, 0, 0);
}

[[maybe_unused]] const bool Started = [] {
    if (Requested(L"main") || Requested(L"worker") || Requested(L"terminate")) std::thread(FailOnceTheWindowIsUp).detach();
    return true;
}();

}  // namespace
