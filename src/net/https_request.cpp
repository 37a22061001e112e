#include "net/https_request.h"

#include "config/error_text.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Zerandis-Patcher/1.0";
constexpr int kResolveTimeoutMs = 10000;
constexpr int kConnectTimeoutMs = 10000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;

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

bool OpenSession(WinHttpHandle& session, std::wstring& error) {
    session.Reset(::WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
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

// Reads the final status; false with the error text unless it is 2xx.
bool CheckStatus(HINTERNET request, const std::wstring& url, std::wstring& error) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                               WINHTTP_NO_HEADER_INDEX)) {
        error = L"Nie można odczytać statusu HTTP.";
        return false;
    }
    if (status >= 200 && status <= 299) return true;
    error = L"Serwer zwrócił HTTP " + std::to_wstring(status) + L" dla " + url;
    return false;
}

}  // namespace

bool OpenHttpsRequest(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error) {
    UrlParts parts;
    if (!SplitHttpsUrl(url, parts, error)) return false;
    if (!OpenSession(handles.session, error)) return false;

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
    // ALWAYS rather than the default DISALLOW_HTTPS_TO_HTTP: a redirect to a
    // plain-HTTP mirror is followed too.
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS;
    ::WinHttpSetOption(handles.request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));

    if (!::WinHttpSendRequest(handles.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                              WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !::WinHttpReceiveResponse(handles.request.Get(), nullptr)) {
        const DWORD code = ::GetLastError();
        error = L"Błąd pobierania: " + WindowsErrorText(code);
        return false;
    }
    return CheckStatus(handles.request.Get(), url, error);
}
