#pragma once
// Which proxy a request takes. Windows 8.1 and later decide it themselves
// (automatic proxy); on Windows 7 and 8.0, whose WinHTTP refuses that, the
// patcher follows the player's Internet Options as browsers there do.

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
// named proxy, else direct.
RequestProxy ChooseRequestProxy(const InternetOptionsProxy& options, const RequestProxy* scriptAnswer);

// Opens a session with the automatic proxy, or the classic way when WinHTTP
// refuses that. Null with GetLastError() set when neither opens.
HINTERNET OpenSessionWithProxy(const wchar_t* userAgent, SessionProxy& proxy);

// Sets the proxy on `request` for `url` when the session is classic and
// asks a proxy script; a script that cannot be run leaves the request to the
// named proxy or to a direct connection. The script's answer is kept per server for the
// life of the process (finding the script may take seconds, and every file
// has a session of its own). Update worker only. The option's result is
// ignored: a request without it still goes out, and fails on its own.
void ApplyRequestProxy(HINTERNET session, HINTERNET request, const std::wstring& url,
                       const SessionProxy& proxy);

// WinHttpOpen without its flags; tests replace it to stand for a system that
// refuses the automatic proxy.
using SessionOpener = HINTERNET (*)(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                                    const wchar_t* bypass);
extern SessionOpener OpenWinHttpSession;
