#pragma once
// Which proxy a request takes. Windows 8.1 and later decide it themselves
// (automatic proxy); on Windows 7 and 8.0, whose WinHTTP refuses that, the
// patcher follows the player's Internet Options as browsers there do.

#include <map>
#include <string>

#include "common/win_compat.h"

#include <winhttp.h>

// The proxy part of the player's Internet Options.
struct InternetOptionsProxy {
    bool autoDetect = false;
    std::wstring autoConfigUrl;  // a PAC script's address; empty when not set
    std::wstring proxy;          // "host:port" or "scheme=host:port;..."; empty when not set
    std::wstring bypass;         // "<local>;*.example;..."; empty when not set
};

// The proxy of a session, fixed when it opens.
struct SessionProxy {
    bool automatic = true;  // the system decides; nothing to do per request
    InternetOptionsProxy options;
};

// How a request of a classic session goes out: through a named proxy (with
// its bypass list) or straight to the server.
struct RequestProxy {
    enum class Kind { Direct, Named } kind = Kind::Direct;
    std::wstring proxy;
    std::wstring bypass;
};

// The access type of a session opened the classic way: a proxy script's
// answer is per request (none on the session); a named proxy is the
// session's, with its bypass list; with neither, WinHTTP's own setting.
DWORD ClassicAccessType(const InternetOptionsProxy& options);

// True when Internet Options ask for a proxy script (found or named).
bool WantsProxyScript(const InternetOptionsProxy& options);

// The proxy for one request of a classic session that asks a proxy script:
// the script's answer when it gave one (`scriptAnswer` non-null), else the
// named proxy, else WinHTTP's default proxy (`winHttpDefault`: what
// WinHttpGetDefaultProxyConfiguration reads, a named proxy or direct), as a
// session opened with WINHTTP_ACCESS_TYPE_DEFAULT_PROXY would go.
RequestProxy ChooseRequestProxy(const InternetOptionsProxy& options, const RequestProxy* scriptAnswer,
                                const RequestProxy& winHttpDefault);

// "scheme://host:port" of an absolute URL, lower case, the scheme's port
// written out and any user name left out: what a script's answer is kept for.
std::wstring ProxyOriginOf(const std::wstring& url);

// The proxies chosen for each origin. A script's answer is kept for the
// process (finding the script may take seconds, and every file has a session
// of its own); a choice made because no script could be run only until the
// next run, which asks again.
struct ProxyAnswers {
    struct Kept {
        bool scriptAnswered = false;
        RequestProxy choice;
    };
    std::map<std::wstring, Kept> byOrigin;
};

// The choice kept for `url`'s origin, or null.
const RequestProxy* FindProxyAnswer(const ProxyAnswers& answers, const std::wstring& url);
void KeepProxyAnswer(ProxyAnswers& answers, const std::wstring& url, bool scriptAnswered, const RequestProxy& choice);
// Drops the choices made without a script's answer.
void ForgetProxyFailures(ProxyAnswers& answers);

// Opens a session with the automatic proxy, or the classic way when WinHTTP
// refuses that. Null with GetLastError() set when neither opens.
HINTERNET OpenSessionWithProxy(const wchar_t* userAgent, SessionProxy& proxy);

// Sets the proxy on `request` for `url` when the session is classic and
// asks a proxy script, with the choice kept for `url`'s origin (see
// ProxyAnswers). Update worker only. The option's result is ignored: a
// request without it still goes out, and fails on its own.
void ApplyRequestProxy(HINTERNET session, HINTERNET request, const std::wstring& url,
                       const SessionProxy& proxy);

// Called as a run starts: a proxy script that could not be found or run in
// an earlier run is asked again.
void ForgetProxyScriptFailures();

// WinHttpOpen without its flags; tests replace it to stand for a system that
// refuses the automatic proxy.
using SessionOpener = HINTERNET (*)(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                                    const wchar_t* bypass);
extern SessionOpener OpenWinHttpSession;
