#pragma once
// One HTTPS GET on WinHTTP: URL check, session, connection, request, status.

#include <string>

#include "common/handle.h"

#include <winhttp.h>

// WinHTTP sessions, connections and requests: null when absent.
struct WinHttpHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;

// The three handles of one transfer. Members are destroyed in reverse order,
// so the request closes first, then the connection, then the session.
struct HttpsRequestHandles {
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;

    HttpsRequestHandles() = default;
    HttpsRequestHandles(const HttpsRequestHandles&) = delete;
    HttpsRequestHandles& operator=(const HttpsRequestHandles&) = delete;
    ~HttpsRequestHandles();  // request first; one that AbortActiveRequest closed is left alone
};

// Closes the request of the transfer under way, if any, from any thread: a
// send or a read blocked in it returns at once and the transfer fails. Used
// when the player closes the patcher.
void AbortActiveRequest();

// Sends a GET for `url` (https only, TLS 1.2, up to 10 redirects followed, never to plain
// HTTP: such a redirect ends the request as its own status) and waits for
// the response headers. True on a 2xx status; the body is then read from
// handles.request. On failure fills `error`; every handle opened stays in
// `handles` either way.
bool OpenHttpsRequest(const std::wstring& url, HttpsRequestHandles& handles, std::wstring& error);
