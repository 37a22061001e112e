#pragma once
// Redirect targets: a Location value made absolute against the URL that sent it.

#include <string>

// `reference` resolved against the absolute `base` by the rules of RFC 3986
// section 5.2 (an absolute reference only when it starts with a scheme; network-,
// path-absolute, path-relative and query-only forms; dot segments removed). The
// result never carries a fragment: a fragment is for the client, never sent.
std::wstring ResolveUrlReference(const std::wstring& base, const std::wstring& reference);

// `url` without its fragment, if any.
std::wstring WithoutFragment(const std::wstring& url);
