#pragma once
// One HTTPS GET on WinHTTP: URL check, session, connection, request, status.

#include <string>

#include "common/handle.h"
#include "net/proxy_choice.h"

// WinHTTP sessions, connections and requests: null when absent.
struct WinHttpHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

// What every network operation reports when it ends on the cancel flag.
inline constexpr wchar_t kCancelledText[] = L"Operacja anulowana.";

// The three handles of one transfer, with the session's proxy. Members are
// destroyed in reverse order, so the request closes first, then the
// connection, then the session. Only the thread that opened them uses or
// closes them: a cancel is a flag the owner reads, never a closed handle.
struct HttpsRequestHandles {
    SessionProxy proxy;
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;

    HttpsRequestHandles() = default;
    HttpsRequestHandles(const HttpsRequestHandles&) = delete;
    HttpsRequestHandles& operator=(const HttpsRequestHandles&) = delete;
};

// Sends a GET for `url` (https only, TLS 1.2, fragment left out, up to 10
// redirects followed, never to plain HTTP: such a redirect ends the request
// as its own status) and waits for the response headers. The cancel flag is
// read before each request (redirect hops included): set, nothing more is
// sent, and any failure while it is set reads "Operacja anulowana.". True on
// a 2xx status; the body is then read from handles.request. On failure fills
// `error`; every handle opened stays in `handles` either way.
bool OpenHttpsRequest(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error);
