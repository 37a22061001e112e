// OpenHttpsRequest against the scripted TLS server: URL checks, request
// settings as the server saw them, status handling, redirects, TLS failures.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

#include "config/error_text.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "net/https_request.h"
#include "net_test_env.h"

namespace {

constexpr wchar_t kUntouched[] = L"(untouched)";

std::wstring Url(const std::string& path, const std::string& portKey = "SCRIPTED_PORT") {
    return ServerBase(portKey) + Utf8ToWide(path);
}

// Percent-encodes a path for the ?to= parameter of /redirect.
std::string Quote(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

struct Outcome {
    bool ok;
    std::wstring error;
};

Outcome Open(const std::wstring& url) {
    HttpsRequestHandles handles;
    std::wstring error = kUntouched;
    const bool ok = OpenHttpsRequest(url, handles, error);
    return {ok, error};
}

std::vector<HINTERNET> closedHandles;

void CALLBACK RecordClosing(HINTERNET handle, DWORD_PTR, DWORD status, LPVOID, DWORD) {
    if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) closedHandles.push_back(handle);
}

TEST(WinHttpHandleOwner, MoveTransfersAndResetCloses) {
    WinHttpHandle first(::WinHttpOpen(L"t", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    ASSERT_TRUE(first);
    const HINTERNET raw = first.Get();
    WinHttpHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);

    closedHandles.clear();
    ::WinHttpSetStatusCallback(raw, RecordClosing, WINHTTP_CALLBACK_FLAG_HANDLES, 0);
    second.Reset();
    EXPECT_FALSE(second);
    EXPECT_EQ(closedHandles, std::vector<HINTERNET>{raw});
}

TEST(HttpsRequestUrl, PlainHttpIsRefusedBeforeAnyHandleOpens) {
    HttpsRequestHandles handles;
    std::wstring error;
    const std::string path = "/status/200?id=" + UniqueToken();
    EXPECT_FALSE(OpenHttpsRequest(Url(path, "PLAIN_PORT"), handles, error));
    EXPECT_EQ(error, L"Patcher zezwala wyłącznie na połączenia HTTPS.");
    EXPECT_FALSE(handles.session);
    EXPECT_FALSE(handles.connection);
    EXPECT_FALSE(handles.request);
    EXPECT_TRUE(RequestsFor(path).empty());
}

TEST(HttpsRequestUrl, NonUrlsGiveTheSplittersErrorText) {
    HttpsRequestHandles handles;
    std::wstring error;
    EXPECT_FALSE(OpenHttpsRequest(L"to nie jest adres", handles, error));
    EXPECT_EQ(error, L"Nieprawidłowy URL: " + WindowsErrorText(ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
    EXPECT_FALSE(handles.session);

    error.clear();
    EXPECT_FALSE(OpenHttpsRequest(L"ftp://localhost/plik", handles, error));
    EXPECT_EQ(error, L"Nieprawidłowy URL: " + WindowsErrorText(ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
}

TEST(HttpsRequestSettings, PortQueryUserAgentAndTls12ReachTheServer) {
    const std::string path = "/status/200?id=" + UniqueToken() + "&x=a%20b";
    HttpsRequestHandles handles;
    std::wstring error = kUntouched;
    ASSERT_TRUE(OpenHttpsRequest(Url(path), handles, error)) << WideToUtf8(error);
    EXPECT_EQ(error, kUntouched);
    EXPECT_TRUE(handles.session);
    EXPECT_TRUE(handles.connection);
    EXPECT_TRUE(handles.request);

    const auto seen = RequestsFor(path);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].listener, "scripted");
    EXPECT_EQ(seen[0].userAgent, "Zerandis-Patcher/1.0");
    EXPECT_EQ(seen[0].tls, "TLSv1.2");
}

TEST(HttpsRequestStatus, AnyTwoHundredSucceeds) {
    for (const char* code : {"200", "204", "299"}) {
        const auto outcome = Open(Url(std::string("/status/") + code));
        EXPECT_TRUE(outcome.ok) << code << ": " << WideToUtf8(outcome.error);
        EXPECT_EQ(outcome.error, kUntouched) << code;
    }
}

TEST(HttpsRequestStatus, OtherStatusesNameStatusAndUrl) {
    for (const char* code : {"199", "300", "404", "500"}) {
        const std::wstring url = Url(std::string("/status/") + code + "?q=" + UniqueToken());
        const auto outcome = Open(url);
        EXPECT_FALSE(outcome.ok) << code;
        EXPECT_EQ(outcome.error, L"Serwer zwrócił HTTP " + Utf8ToWide(code) + L" dla " + url);
    }
}

TEST(HttpsRequestRedirect, ChainOf301302307IsFollowedToTheFinalStatus) {
    const std::string final = "/status/204?id=" + UniqueToken();
    const std::string chain =
        "/redirect/301?to=" + Quote("/redirect/302?to=" + Quote("/redirect/307?to=" + Quote(final)));
    const auto outcome = Open(Url(chain));
    EXPECT_TRUE(outcome.ok) << WideToUtf8(outcome.error);
    EXPECT_EQ(RequestsFor(final).size(), 1u);
}

TEST(HttpsRequestRedirect, FinalFailureIsReportedForTheUrlAsPassed) {
    const std::wstring url = Url("/redirect/302?to=" + Quote("/status/404?id=" + UniqueToken()));
    const auto outcome = Open(url);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, L"Serwer zwrócił HTTP 404 dla " + url);
}

TEST(HttpsRequestRedirect, PlainHttpTargetIsRefusedWithTheRedirectStatus) {
    const std::string final = "/status/200?id=" + UniqueToken();
    const std::string target = WideToUtf8(ServerBase("PLAIN_PORT", L"127.0.0.1")) + final;
    const std::wstring url = Url("/redirect/302?to=" + Quote(target));
    const auto outcome = Open(url);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, L"Serwer zwrócił HTTP 302 dla " + url);
    EXPECT_TRUE(RequestsFor(final).empty());
}

TEST(HttpsRequestRedirect, LoopEndsInFailure) {
    const auto outcome = Open(Url("/loop"));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, L"Błąd pobierania: " + WindowsErrorText(ERROR_WINHTTP_REDIRECT_FAILED));
}

TEST(HttpsRequestTls, OldProtocolsAndBadCertificatesFailToDownload) {
    // The code differs by platform: for an untrusted certificate or a foreign
    // host name Wine's WinHTTP says ERROR_WINHTTP_SECURE_CHANNEL_ERROR (12157),
    // Windows ERROR_WINHTTP_SECURE_FAILURE (12175).
    for (const char* listener : {"LEGACY_PORT", "UNTRUSTED_PORT", "OTHERHOST_PORT"}) {
        const std::string path = "/status/200?id=" + UniqueToken();
        const auto outcome = Open(Url(path, listener));
        EXPECT_FALSE(outcome.ok) << listener;
        EXPECT_EQ(outcome.error.rfind(L"Błąd pobierania: ", 0), 0u) << listener << ": " << WideToUtf8(outcome.error);
        EXPECT_EQ(outcome.error.back(), L')') << listener;
        EXPECT_TRUE(RequestsFor(path).empty()) << listener;
    }
}

TEST(HttpsRequestTls, NothingListeningFailsToDownload) {
    // Port 1 on the loopback: connection refused at once.
    const auto outcome = Open(L"https://127.0.0.1:1/x");
    EXPECT_EQ(outcome.error, L"Błąd pobierania: " + WindowsErrorText(ERROR_WINHTTP_CANNOT_CONNECT));
}

TEST(HttpsRequestCancel, CancelDuringAHopEndsWithItAndSendsNoMore) {
    const std::string token = UniqueToken();
    const std::string hop2 = "/hops/2/300?id=" + token;
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([&] {
        while (RequestsFor(hop2).empty()) ::Sleep(5);
        cancelled = std::chrono::steady_clock::now();
        CancelRequested.store(true);
    });
    const auto outcome = Open(Url("/hops/3/300?id=" + token));
    const auto returned = std::chrono::steady_clock::now();
    canceller.join();
    CancelRequested.store(false);
    EXPECT_EQ(outcome.error, L"Operacja anulowana.");
    EXPECT_LT(returned - cancelled, std::chrono::milliseconds(300 + 400));  // the hop's delay, with slack
    EXPECT_TRUE(RequestsFor("/hops/1/300?id=" + token).empty());
}

TEST(HttpsRequestProxy, AProxyScriptDecidesPerRequestBeforeTheNamedProxyThenTheDefault) {
    const InternetOptionsProxy scripted{true, L"", L"p:8080", L"<local>"};
    EXPECT_EQ(ClassicAccessType(scripted), static_cast<DWORD>(WINHTTP_ACCESS_TYPE_NO_PROXY));
    const RequestProxy answer{RequestProxy::Kind::Direct, L"", L""};
    const RequestProxy winHttpDefault{RequestProxy::Kind::Named, L"d:3128", L""};
    EXPECT_EQ(ChooseRequestProxy(scripted, &answer, winHttpDefault).kind, RequestProxy::Kind::Direct);
    const RequestProxy fallback = ChooseRequestProxy(scripted, nullptr, winHttpDefault);  // no script found
    EXPECT_EQ(fallback.proxy + L"|" + fallback.bypass, L"p:8080|<local>");
    const InternetOptionsProxy detectOnly{true, L"", L"", L""};  // no script found, no proxy named
    EXPECT_EQ(ChooseRequestProxy(detectOnly, nullptr, winHttpDefault).proxy, L"d:3128");
}

TEST(HttpsRequestProxy, ChoicesAreKeptPerOriginAndFailuresOnlyUntilTheNextRun) {
    ProxyAnswers answers;
    KeepProxyAnswer(answers, L"https://gracz@CDN.example/a?b", true, {RequestProxy::Kind::Named, L"a:1", L""});
    KeepProxyAnswer(answers, L"https://cdn.example:8443/", false, {});  // no script: a failure
    KeepProxyAnswer(answers, L"https://[::1]/", false, {});
    ASSERT_NE(FindProxyAnswer(answers, L"https://cdn.example:443/other"), nullptr);
    EXPECT_EQ(FindProxyAnswer(answers, L"https://cdn.example:443/other")->proxy, L"a:1");
    EXPECT_EQ(FindProxyAnswer(answers, L"https://cdn.example:8443/z")->kind, RequestProxy::Kind::Direct);
    EXPECT_EQ(FindProxyAnswer(answers, L"https://other.example/"), nullptr);
    EXPECT_EQ(FindProxyAnswer(answers, L"https://[::1]:8443/"), nullptr);
    ForgetProxyFailures(answers);  // the next run
    EXPECT_EQ(FindProxyAnswer(answers, L"https://cdn.example:8443/z"), nullptr);
    EXPECT_EQ(FindProxyAnswer(answers, L"https://[::1]:443/"), nullptr);
    EXPECT_NE(FindProxyAnswer(answers, L"https://cdn.example/"), nullptr);
}

}  // namespace
