#include "net/url_reference.h"

#include <cwctype>

namespace {

// The five parts of RFC 3986 section 3; a part that is absent is distinct
// from one that is present and empty ("https://h/p?" keeps its "?").
struct UrlParts {
    std::wstring scheme;
    bool hasAuthority = false;
    std::wstring authority;
    std::wstring path;
    bool hasQuery = false;
    std::wstring query;
};

// The length of a scheme at the start of `text` (without its ':'), or 0. A
// ':' after a '/', '?' or '#' belongs to a path or query, never to a scheme.
std::size_t SchemeLength(const std::wstring& text) {
    if (text.empty() || !std::iswalpha(text[0]) || text[0] > 0x7F) return 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L':') return i;
        const bool schemeChar = c <= 0x7F && (std::iswalnum(c) || c == L'+' || c == L'-' || c == L'.');
        if (!schemeChar) return 0;
    }
    return 0;
}

UrlParts Split(const std::wstring& text) {
    UrlParts parts;
    std::wstring rest = WithoutFragment(text);
    if (const std::size_t scheme = SchemeLength(rest); scheme > 0) {
        parts.scheme = rest.substr(0, scheme);
        rest.erase(0, scheme + 1);
    }
    if (const std::size_t query = rest.find(L'?'); query != std::wstring::npos) {
        parts.hasQuery = true;
        parts.query = rest.substr(query + 1);
        rest.erase(query);
    }
    if (rest.rfind(L"//", 0) == 0) {
        const std::size_t pathStart = rest.find(L'/', 2);
        parts.hasAuthority = true;
        parts.authority = rest.substr(2, pathStart - 2);
        rest = pathStart == std::wstring::npos ? std::wstring() : rest.substr(pathStart);
    }
    parts.path = rest;
    return parts;
}

// RFC 3986 section 5.2.4.
std::wstring RemoveDotSegments(std::wstring in) {
    std::wstring out;
    while (!in.empty()) {
        if (in.rfind(L"../", 0) == 0) {
            in.erase(0, 3);
        } else if (in.rfind(L"./", 0) == 0) {
            in.erase(0, 2);
        } else if (in.rfind(L"/./", 0) == 0) {
            in.erase(0, 2);
        } else if (in == L"/.") {
            in = L"/";
        } else if (in.rfind(L"/../", 0) == 0 || in == L"/..") {
            in = in.size() == 3 ? L"/" : in.substr(3);
            const std::size_t last = out.rfind(L'/');
            out.erase(last == std::wstring::npos ? 0 : last);
        } else if (in == L"." || in == L"..") {
            in.clear();
        } else {
            const std::size_t next = in.find(L'/', 1);
            out += in.substr(0, next);
            in = next == std::wstring::npos ? std::wstring() : in.substr(next);
        }
    }
    return out;
}

// RFC 3986 section 5.2.3.
std::wstring Merge(const UrlParts& base, const std::wstring& path) {
    if (base.hasAuthority && base.path.empty()) return L"/" + path;
    const std::size_t slash = base.path.rfind(L'/');
    return slash == std::wstring::npos ? path : base.path.substr(0, slash + 1) + path;
}

// RFC 3986 section 5.3, without the fragment.
std::wstring Recompose(const UrlParts& parts) {
    std::wstring url;
    if (!parts.scheme.empty()) url += parts.scheme + L":";
    if (parts.hasAuthority) url += L"//" + parts.authority;
    url += parts.path;
    if (parts.hasQuery) url += L"?" + parts.query;
    return url;
}

}  // namespace

std::wstring WithoutFragment(const std::wstring& url) { return url.substr(0, url.find(L'#')); }

std::wstring ResolveUrlReference(const std::wstring& base, const std::wstring& reference) {
    const UrlParts b = Split(base);
    const UrlParts r = Split(reference);
    UrlParts t;
    if (!r.scheme.empty()) {
        t = r;
        t.path = RemoveDotSegments(r.path);
        return Recompose(t);
    }
    t.scheme = b.scheme;
    if (r.hasAuthority) {
        t.hasAuthority = true;
        t.authority = r.authority;
        t.path = RemoveDotSegments(r.path);
        t.hasQuery = r.hasQuery;
        t.query = r.query;
        return Recompose(t);
    }
    t.hasAuthority = b.hasAuthority;
    t.authority = b.authority;
    if (r.path.empty()) {
        t.path = b.path;
        t.hasQuery = r.hasQuery || b.hasQuery;
        t.query = r.hasQuery ? r.query : b.query;
        return Recompose(t);
    }
    t.path = RemoveDotSegments(r.path[0] == L'/' ? r.path : Merge(b, r.path));
    t.hasQuery = r.hasQuery;
    t.query = r.query;
    return Recompose(t);
}
