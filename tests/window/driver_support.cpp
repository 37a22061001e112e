#include "driver_support.h"

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                          nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

void WriteLine(const std::wstring& text) {
    const std::string bytes = ToUtf8(text) + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// One line of stdin without its line end; false at the end of input.
bool ReadLine(std::wstring& line) {
    std::string bytes;
    char c = 0;
    DWORD read = 0;
    bool any = false;
    while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, nullptr) && read == 1) {
        any = true;
        if (c == '\n') break;
        if (c != '\r') bytes += c;
    }
    line = FromUtf8(bytes);
    return any;
}

Reply Execute(const std::wstring& line) {
    try {
        return RunCommand(Args(line));
    } catch (...) {
        return Reply::Error(L"command failed");
    }
}

void Answer(const Reply& reply) {
    std::wstring text = reply.ok ? L"OK" : L"ERR";
    if (!reply.text.empty()) text += L" " + reply.text;
    WriteLine(text);
}

// Coordinates in physical pixels, whatever the display scaling.
void BecomeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    const auto setContext = reinterpret_cast<SetContextFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (setContext == nullptr || !setContext(perMonitorV2)) ::SetProcessDPIAware();
}

}  // namespace

Args::Args(std::wstring line) : line_(std::move(line)) {
    size_t at = 0;
    while (at < line_.size()) {
        while (at < line_.size() && std::iswspace(line_[at])) ++at;
        if (at >= line_.size()) break;
        const size_t start = at;
        while (at < line_.size() && !std::iswspace(line_[at])) ++at;
        starts_.push_back(start);
        words_.push_back(line_.substr(start, at - start));
    }
}

long long Args::Number(size_t index) const {
    const std::wstring word = Word(index);
    return word.empty() ? 0 : std::wcstoll(word.c_str(), nullptr, 0);
}

std::wstring Args::Rest(size_t index) const { return index < starts_.size() ? line_.substr(starts_[index]) : L""; }

std::wstring Escape(const std::wstring& text) {
    std::wstring escaped;
    for (const wchar_t c : text) {
        switch (c) {
            case L'\\': escaped += L"\\\\"; break;
            case L'\t': escaped += L"\\t"; break;
            case L'\r': escaped += L"\\r"; break;
            case L'\n': escaped += L"\\n"; break;
            default: escaped += c; break;
        }
    }
    return escaped;
}

std::wstring Numbers(std::initializer_list<long> values) {
    std::wstring text;
    for (const long value : values) text += (text.empty() ? L"" : L" ") + std::to_wstring(value);
    return text;
}

std::wstring Hex(unsigned long long value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%llx", value);
    return text;
}

std::wstring HandleText(HWND window) { return Hex(reinterpret_cast<std::uintptr_t>(window)); }

DWORD ProcessOf(HWND window) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    return processId;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    ::GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

namespace {

// The state of one enumeration: the test, and what matched so far.
struct WindowSearch {
    const std::function<bool(HWND)>* match;
    bool firstOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectMatchingWindow(HWND window, LPARAM context) noexcept {
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    try {
        if (!(*search.match)(window)) return TRUE;
        search.found.push_back(window);
    } catch (...) {
        return TRUE;
    }
    return search.firstOnly ? FALSE : TRUE;
}

}  // namespace

HWND FindChild(HWND parent, const std::function<bool(HWND)>& match) {
    WindowSearch search{&match, true, {}};
    ::EnumChildWindows(parent, CollectMatchingWindow, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

std::vector<HWND> TopLevelWindows(const std::function<bool(HWND)>& match) {
    WindowSearch search{&match, false, {}};
    ::EnumWindows(CollectMatchingWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitUntil(long long timeoutMs, const std::function<bool()>& done) {
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (done()) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(25);
    }
}

int wmain(int argc, wchar_t** argv) {
    BecomeDpiAware();
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            const Reply reply = Execute(argv[i]);
            Answer(reply);
            if (!reply.ok) return 1;
        }
        return 0;
    }
    std::wstring line;
    while (ReadLine(line)) {
        if (line == L"quit") break;
        if (line.empty()) continue;
        Answer(Execute(line));
    }
    return 0;
}
