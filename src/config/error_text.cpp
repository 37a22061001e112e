#include "config/error_text.h"

#include "common/text.h"
#include "common/win_compat.h"

std::wstring WindowsErrorText(std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer != nullptr) {
        // System messages end in CR LF.
        text = TrimWhitespace(std::wstring(buffer, length));
    } else {
        text = L"Nieznany błąd";
    }
    if (buffer != nullptr) ::LocalFree(buffer);
    return text + L" (" + std::to_wstring(code) + L")";
}
