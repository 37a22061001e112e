#include "update/url_building.h"

#include "common/text.h"
#include "net/url_encoding.h"

namespace {

// The encoded texts are ASCII, so each byte is one UTF-16 unit.
std::wstring AsciiToWide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

}  // namespace

std::wstring PercentEncode(const std::wstring& text) { return AsciiToWide(PercentEncodeBytes(WideToUtf8(text))); }

std::wstring BuildFileUrl(const std::wstring& baseUrl, const std::wstring& relativePath) {
    return baseUrl + AsciiToWide(FileUrlPath(WideToUtf8(relativePath)));
}

std::wstring AppendQueryParameter(const std::wstring& url, const std::wstring& key, const std::wstring& value) {
    const wchar_t joiner = url.find(L'?') == std::wstring::npos ? L'?' : L'&';
    return url + joiner + PercentEncode(key) + L"=" + PercentEncode(value);
}
