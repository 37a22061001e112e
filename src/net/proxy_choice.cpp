#include "net/proxy_choice.h"

#include "net/url_reference.h"

namespace {

// The last server a proxy script was asked about, and its answer (or none).
struct ScriptMemo {
    std::wstring origin;
    bool answered = false;
    RequestProxy answer;
};
ScriptMemo LastScriptAnswer;  // update worker only

// "https://host:port" of an absolute URL: what a script's answer is kept for.
std::wstring OriginOf(const std::wstring& url) {
    const std::size_t authority = url.find(L"//");
    if (authority == std::wstring::npos) return url;
    return url.substr(0, url.find_first_of(L"/?", authority + 2));
}

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

}  // namespace

SessionOpener OpenWinHttpSession = OpenWithAccessType;

DWORD ClassicAccessType(const InternetOptionsProxy& options) {
    if (WantsProxyScript(options)) return WINHTTP_ACCESS_TYPE_NO_PROXY;
    return options.proxy.empty() ? WINHTTP_ACCESS_TYPE_DEFAULT_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
}

bool WantsProxyScript(const InternetOptionsProxy& options) {
    return options.autoDetect || !options.autoConfigUrl.empty();
}

RequestProxy ChooseRequestProxy(const InternetOptionsProxy& options, const RequestProxy* scriptAnswer) {
    if (scriptAnswer != nullptr) return *scriptAnswer;
    RequestProxy choice;
    if (options.proxy.empty()) {
        choice.kind = RequestProxy::Kind::Direct;
        return choice;
    }
    choice.kind = RequestProxy::Kind::Named;
    choice.proxy = options.proxy;
    choice.bypass = options.bypass;
    return choice;
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
    const std::wstring origin = OriginOf(WithoutFragment(url));
    if (LastScriptAnswer.origin != origin) {
        LastScriptAnswer.origin = origin;
        LastScriptAnswer.answered = AskProxyScript(session, url, proxy.options, LastScriptAnswer.answer);
    }
    const RequestProxy choice =
        ChooseRequestProxy(proxy.options, LastScriptAnswer.answered ? &LastScriptAnswer.answer : nullptr);
    if (choice.kind != RequestProxy::Kind::Named) return;  // the session goes direct already
    WINHTTP_PROXY_INFO info{};
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = const_cast<LPWSTR>(choice.proxy.c_str());
    info.lpszProxyBypass = choice.bypass.empty() ? nullptr : const_cast<LPWSTR>(choice.bypass.c_str());
    ::WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof(info));
}
