#include "net/https_request.h"

#include "common/run_flags.h"
#include "config/error_text.h"
#include "net/url_reference.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Zerandis-Patcher/1.0";
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;
constexpr int kMaxRedirects = 10;  // WinHTTP's own limit

struct UrlParts {
    std::wstring host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTPS_PORT;
    std::wstring path;  // URL path with the query appended
};

// Splits `url`; false with the error text when it is not a usable https URL.
bool SplitHttpsUrl(const std::wstring& url, UrlParts& parts, std::wstring& error) {
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    // Length -1 with a null pointer asks for a pointer into `url` itself.
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) {
        const DWORD code = ::GetLastError();
        error = L"Nieprawidłowy URL: " + WindowsErrorText(code);
        return false;
    }
    if (components.nScheme != INTERNET_SCHEME_HTTPS) {
        error = L"Patcher zezwala wyłącznie na połączenia HTTPS.";
        return false;
    }
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
    if (components.lpszExtraInfo != nullptr && components.dwExtraInfoLength > 0) {
        parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    }
    return true;
}

bool OpenSession(WinHttpHandle& session, SessionProxy& proxy, std::wstring& error) {
    session.Reset(OpenSessionWithProxy(kUserAgent, proxy));
    if (!session) {
        const DWORD code = ::GetLastError();
        error = L"WinHttpOpen: " + WindowsErrorText(code);
        return false;
    }
    // Results ignored: the defaults still give a working, if slower to fail, session.
    ::WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                         kReceiveTimeoutMs);
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    ::WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                       sizeof(protocols));
    return true;
}

// The redirect target of the response, or empty when it names none.
std::wstring LocationHeader(HINTERNET request) {
    DWORD size = 0;
    ::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::wstring location(size / sizeof(wchar_t) + 1, L'\0');
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                               location.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    location.resize(size / sizeof(wchar_t));
    return location;
}

bool IsRedirectStatus(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Reads the status of the response; false with the error text when it cannot.
bool ReadStatus(HINTERNET request, DWORD& status, std::wstring& error) {
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        error = L"Nie można odczytać statusu HTTP.";
        return false;
    }
    return true;
}

// One GET of `url` on the session in `handles`, up to its response headers.
bool SendOnce(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error) {
    UrlParts parts;
    if (!SplitHttpsUrl(url, parts, error)) return false;
    if (!handles.session && !OpenSession(handles.session, handles.proxy, error)) return false;
    handles.request.Reset();
    handles.connection.Reset(::WinHttpConnect(handles.session.Get(), parts.host.c_str(), parts.port, 0));
    if (!handles.connection) {
        const DWORD code = ::GetLastError();
        error = L"WinHttpConnect: " + WindowsErrorText(code);
        return false;
    }
    handles.request.Reset(::WinHttpOpenRequest(handles.connection.Get(), L"GET", parts.path.c_str(),
                                               nullptr, WINHTTP_NO_REFERER,
                                               WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!handles.request) {
        const DWORD code = ::GetLastError();
        error = L"WinHttpOpenRequest: " + WindowsErrorText(code);
        return false;
    }
    ApplyRequestProxy(handles.session.Get(), handles.request.Get(), url, handles.proxy);
    // Redirects are followed here, not by the platform, so none leads to plain HTTP.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(handles.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    if (!::WinHttpSendRequest(handles.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(handles.request.Get(), nullptr)) {
        const DWORD code = ::GetLastError();
        error = L"Błąd pobierania: " + WindowsErrorText(code);
        return false;
    }
    return true;
}

// Follows the redirects of `url` up to a final response; false with the error text.
bool FollowRedirects(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error) {
    std::wstring current = WithoutFragment(url);
    for (int redirects = 0;; ++redirects) {
        // Before every hop: a cancel seen here sends nothing more.
        if (CancelRequested.load()) return false;
        if (!SendOnce(current, handles, error)) return false;
        DWORD status = 0;
        if (!ReadStatus(handles.request.Get(), status, error)) return false;
        if (status >= 200 && status <= 299) return true;
        const std::wstring location = LocationHeader(handles.request.Get());
        const std::wstring target = ResolveUrlReference(current, location);
        // A redirect to plain HTTP ends here, as its own status.
        if (!IsRedirectStatus(status) || location.empty() || _wcsnicmp(target.c_str(), L"http:", 5) == 0) {
            error = L"Serwer zwrócił HTTP " + std::to_wstring(status) + L" dla " + url;
            return false;
        }
        if (redirects == kMaxRedirects) {
            error = L"Błąd pobierania: " + WindowsErrorText(ERROR_WINHTTP_REDIRECT_FAILED);
            return false;
        }
        current = target;
    }
}

}  // namespace

bool OpenHttpsRequest(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error) {
    if (FollowRedirects(url, handles, error)) return true;
    // Whatever ended a cancelled request (a send or a wait given up, a hop not
    // taken), the player asked for it.
    if (CancelRequested.load()) error = kCancelledText;
    return false;
}
