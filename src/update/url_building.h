#pragma once
// Request URLs on the update server: the manifest and each client file.

#include <string>

// UTF-8 bytes of `text`; letters, digits and "/-_.~" stay, every other byte
// becomes "%" and two upper-case hexadecimal digits.
std::wstring PercentEncode(const std::wstring& text);

// `baseUrl` (which ends in "/") followed by `relativePath` with "/"
// separators, leading "/" removed, percent-encoded.
std::wstring BuildFileUrl(const std::wstring& baseUrl, const std::wstring& relativePath);

// `url` + ("?" when it has none yet, else "&") + encoded key + "=" + encoded value.
std::wstring AppendQueryParameter(const std::wstring& url, const std::wstring& key, const std::wstring& value);
