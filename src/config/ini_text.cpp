#include "config/ini_text.h"

#include <algorithm>

#include "common/text.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::wstring TrimBlanks(const std::wstring& text) {
    const size_t first = text.find_first_not_of(L" \t\r");
    if (first == std::wstring::npos) return {};
    return text.substr(first, text.find_last_not_of(L" \t\r") - first + 1);
}

bool SameName(const std::wstring& a, const std::wstring& b) { return ToLowerWide(TrimBlanks(a)) == ToLowerWide(b); }

std::wstring Unquoted(std::wstring value) {
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

bool HasUtf8Bom(std::string_view bytes) { return bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom; }

bool IsUtf8BeyondAscii(std::string_view bytes) {
    const bool beyondAscii = std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    return beyondAscii && !Utf8ToWide(std::string(bytes)).empty();
}

bool FindIniValue(std::string_view text, const std::wstring& section, const std::wstring& key, std::wstring& value) {
    bool inSection = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::wstring line = TrimBlanks(Utf8ToWide(std::string(text.substr(0, end))));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.front() == L'[') {
            // Only the first section of that name is read, as Windows does.
            if (inSection) return false;
            const size_t close = line.find(L']');
            inSection = close != std::wstring::npos && SameName(line.substr(1, close - 1), section);
            continue;
        }
        const size_t equals = line.find(L'=');
        if (!inSection || equals == std::wstring::npos || !SameName(line.substr(0, equals), key)) continue;
        value = Unquoted(TrimBlanks(line.substr(equals + 1))).substr(0, kIniValueLimit);
        return true;
    }
    return false;
}
