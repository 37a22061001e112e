#include "config/error_text.h"

#include "common/system_library.h"
#include "common/text.h"

namespace {

constexpr std::uint32_t kFirstWinHttpCode = 12000;
constexpr std::uint32_t kLastWinHttpCode = 12999;

// The message for `code` from the table FormatMessageW finds by `source`,
// trimmed (messages end in CR LF); false when that table has none.
bool LookUpMessage(DWORD source, HMODULE module, std::uint32_t code, std::wstring& text) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | source, module, code, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const bool found = length > 0 && buffer != nullptr;
    if (found) text = TrimWhitespace(std::wstring(buffer, length));
    if (buffer != nullptr) ::LocalFree(buffer);
    return found;
}

// Loaded once as a data file (no code of it runs) and kept for the life of the
// process; null when it cannot be loaded. System32's copy by its full path, so
// a winhttp.dll lying in the game directory is never read.
HMODULE WinHttpMessageModule() {
    static const HMODULE module = LoadSystemLibrary(L"winhttp.dll", LOAD_LIBRARY_AS_DATAFILE);
    return module;
}

}  // namespace

std::wstring WindowsErrorTextFrom(std::uint32_t code, HMODULE messageModule) {
    std::wstring text;
    const bool found =
        LookUpMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, text) ||
        (code >= kFirstWinHttpCode && code <= kLastWinHttpCode && messageModule != nullptr &&
         LookUpMessage(FORMAT_MESSAGE_FROM_HMODULE, messageModule, code, text));
    if (!found) text = L"Nieznany błąd";
    return text + L" (" + std::to_wstring(code) + L")";
}

std::wstring WindowsErrorText(std::uint32_t code) {
    return WindowsErrorTextFrom(code, WinHttpMessageModule());
}
