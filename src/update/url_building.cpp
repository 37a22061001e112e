#include "update/url_building.h"

#include "common/text.h"

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
           c == '-' || c == '_' || c == '.' || c == '~';
}

}  // namespace

std::wstring PercentEncode(const std::wstring& text) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring encoded;
    for (const char byte : WideToUtf8(text)) {
        const auto c = static_cast<unsigned char>(byte);
        if (IsUnreserved(c)) {
            encoded.push_back(static_cast<wchar_t>(c));
        } else {
            encoded.push_back(L'%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        }
    }
    return encoded;
}

std::wstring BuildFileUrl(const std::wstring& baseUrl, const std::wstring& relativePath) {
    std::wstring path = relativePath;
    for (wchar_t& c : path) {
        if (c == L'\\') c = L'/';
    }
    const size_t firstKept = path.find_first_not_of(L'/');
    path.erase(0, firstKept == std::wstring::npos ? path.size() : firstKept);
    return baseUrl + PercentEncode(path);
}

std::wstring AppendQueryParameter(const std::wstring& url, const std::wstring& key, const std::wstring& value) {
    const wchar_t joiner = url.find(L'?') == std::wstring::npos ? L'?' : L'&';
    return url + joiner + PercentEncode(key) + L"=" + PercentEncode(value);
}
