#include "net/proxy_choice.h"

#include "common/text.h"

namespace {

ProxyAnswers KeptAnswers;  // update worker only

HINTERNET OpenWithAccessType(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                             const wchar_t* bypass) {
    return ::WinHttpOpen(userAgent, accessType, proxy, bypass, 0);
}

// A string option of WinHttpOpen: absent when empty.
const wchar_t* OptionalText(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

// Takes a string WinHTTP allocated for us: copied, then freed as it asks.
std::wstring TakeGlobalString(LPWSTR text) {
    if (text == nullptr) return {};
    std::wstring copy(text);
    ::GlobalFree(text);
    return copy;
}

InternetOptionsProxy ReadInternetOptions() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    // A user without settings (or a failure to read them) is a user without a proxy.
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return {};
    InternetOptionsProxy options;
    options.autoDetect = config.fAutoDetect != FALSE;
    options.autoConfigUrl = TakeGlobalString(config.lpszAutoConfigUrl);
    options.proxy = TakeGlobalString(config.lpszProxy);
    options.bypass = TakeGlobalString(config.lpszProxyBypass);
    return options;
}

// Runs the proxy script for `url`; false when there is none to be had.
bool AskProxyScript(HINTERNET session, const std::wstring& url, const InternetOptionsProxy& options,
                    RequestProxy& answer) {
    WINHTTP_AUTOPROXY_OPTIONS autoProxy{};
    if (options.autoDetect) {
        autoProxy.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        autoProxy.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!options.autoConfigUrl.empty()) {
        autoProxy.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        autoProxy.lpszAutoConfigUrl = options.autoConfigUrl.c_str();
    }
    WINHTTP_PROXY_INFO info{};
    // Without the logon first: WinHTTP caches the script only then; with it
    // only when the script's server asks who we are.
    BOOL found = ::WinHttpGetProxyForUrl(session, url.c_str(), &autoProxy, &info);
    if (!found && ::GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        autoProxy.fAutoLogonIfChallenged = TRUE;
        found = ::WinHttpGetProxyForUrl(session, url.c_str(), &autoProxy, &info);
    }
    if (!found) return false;
    answer.proxy = TakeGlobalString(info.lpszProxy);
    answer.bypass = TakeGlobalString(info.lpszProxyBypass);
    answer.kind = info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !answer.proxy.empty()
                      ? RequestProxy::Kind::Named
                      : RequestProxy::Kind::Direct;
    return true;
}

// WinHTTP's default proxy as the registry holds it (netsh winhttp): named, or direct.
RequestProxy ReadWinHttpDefaultProxy() {
    WINHTTP_PROXY_INFO info{};
    RequestProxy proxy;
    if (!::WinHttpGetDefaultProxyConfiguration(&info)) return proxy;
    proxy.proxy = TakeGlobalString(info.lpszProxy);
    proxy.bypass = TakeGlobalString(info.lpszProxyBypass);
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !proxy.proxy.empty()) {
        proxy.kind = RequestProxy::Kind::Named;
    }
    return proxy;
}

// The choice for `url`: kept for its origin, or asked of the script now.
RequestProxy ProxyForRequest(HINTERNET session, const std::wstring& url, const InternetOptionsProxy& options) {
    if (const RequestProxy* kept = FindProxyAnswer(KeptAnswers, url)) return *kept;
    RequestProxy answer;
    const bool answered = AskProxyScript(session, url, options, answer);
    // The registry is read only where its answer is the one taken.
    const RequestProxy winHttpDefault =
        answered || !options.proxy.empty() ? RequestProxy{} : ReadWinHttpDefaultProxy();
    const RequestProxy choice = ChooseRequestProxy(options, answered ? &answer : nullptr, winHttpDefault);
    KeepProxyAnswer(KeptAnswers, url, answered, choice);
    return choice;
}

}  // namespace

SessionOpener OpenWinHttpSession = OpenWithAccessType;

DWORD ClassicAccessType(const InternetOptionsProxy& options) {
    if (WantsProxyScript(options)) return WINHTTP_ACCESS_TYPE_NO_PROXY;
    return options.proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
}

bool WantsProxyScript(const InternetOptionsProxy& options) {
    return options.autoDetect || !options.autoConfigUrl.empty();
}

RequestProxy ChooseRequestProxy(const InternetOptionsProxy& options, const RequestProxy* scriptAnswer,
                                const RequestProxy& winHttpDefault) {
    if (scriptAnswer != nullptr) return *scriptAnswer;
    if (options.proxy.empty()) return winHttpDefault;
    RequestProxy choice;
    choice.kind = RequestProxy::Kind::Named;
    choice.proxy = options.proxy;
    choice.bypass = options.bypass;
    return choice;
}

std::wstring ProxyOriginOf(const std::wstring& url) {
    const std::size_t slashes = url.find(L"://");
    if (slashes == std::wstring::npos) return ToLowerWide(url);
    const std::wstring scheme = ToLowerWide(url.substr(0, slashes));
    const std::size_t start = slashes + 3;
    std::wstring authority = url.substr(start, url.find_first_of(L"/?#", start) - start);
    authority = ToLowerWide(authority.substr(authority.rfind(L'@') + 1));  // npos + 1 keeps it whole
    // A port follows the last colon, unless that colon is inside an IPv6 literal.
    const std::size_t colon = authority.rfind(L':');
    const bool hasPort = colon != std::wstring::npos && authority.find(L']', colon) == std::wstring::npos;
    std::wstring host = hasPort ? authority.substr(0, colon) : authority;
    std::wstring port = hasPort ? authority.substr(colon + 1) : L"";
    if (port.empty()) port = scheme == L"http" ? L"80" : L"443";
    return scheme + L"://" + host + L":" + port;
}

const RequestProxy* FindProxyAnswer(const ProxyAnswers& answers, const std::wstring& url) {
    const auto kept = answers.byOrigin.find(ProxyOriginOf(url));
    return kept == answers.byOrigin.end() ? nullptr : &kept->second.choice;
}

void KeepProxyAnswer(ProxyAnswers& answers, const std::wstring& url, bool scriptAnswered, const RequestProxy& choice) {
    answers.byOrigin[ProxyOriginOf(url)] = ProxyAnswers::Kept{scriptAnswered, choice};
}

void ForgetProxyFailures(ProxyAnswers& answers) {
    std::erase_if(answers.byOrigin, [](const auto& kept) { return !kept.second.scriptAnswered; });
}

HINTERNET OpenSessionWithProxy(const wchar_t* userAgent, SessionProxy& proxy) {
    proxy = SessionProxy{};
    // Windows 7 and 8.0 know no WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY and refuse it.
    if (const HINTERNET session = OpenWinHttpSession(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS)) {
        return session;
    }
    proxy.automatic = false;
    proxy.options = ReadInternetOptions();
    const DWORD accessType = ClassicAccessType(proxy.options);
    if (accessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        return OpenWinHttpSession(userAgent, accessType, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS);
    }
    return OpenWinHttpSession(userAgent, accessType, proxy.options.proxy.c_str(), OptionalText(proxy.options.bypass));
}

void ApplyRequestProxy(HINTERNET session, HINTERNET request, const std::wstring& url,
                       const SessionProxy& proxy) {
    if (proxy.automatic || !WantsProxyScript(proxy.options)) return;
    const RequestProxy choice = ProxyForRequest(session, url, proxy.options);
    if (choice.kind != RequestProxy::Kind::Named) return;  // the session goes direct already
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = const_cast<LPWSTR>(choice.proxy.c_str());
    info.lpszProxyBypass = choice.bypass.empty() ? nullptr : const_cast<LPWSTR>(choice.bypass.c_str());
    ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}

void ForgetProxyScriptFailures() { ForgetProxyFailures(KeptAnswers); }
