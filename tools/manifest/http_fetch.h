#pragma once
// GETs over HTTPS as the patcher makes them (its user agent, TLS 1.2 only,
// redirects to https only, its connect and stall limits), several at once
// on reused connections. libcurl; the Linux build only.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// How one GET ended.
struct HttpAnswer {
    long status = 0;      // the final response's HTTP status; 0 when none came
    bool complete = false;  // the whole body arrived and was taken
    std::string error;    // why not complete (transfer error); empty when complete
};

struct Download {
    std::string url;
    // Each piece of the final response's body, with its status. Returning
    // false stops this body (the answer is then not complete).
    std::function<bool(long status, std::string_view piece)> onBody;
    // Called once the GET has ended, in the order they end.
    std::function<void(const HttpAnswer&)> onEnd;
};

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Trusts the certificates of the PEM file `caFile` besides the system's.
    // False with `error` set when it holds none or cannot be read.
    bool TrustCa(const std::string& caFile, std::string& error);

    // Runs every download, at most `jobs` at a time, each connection reused
    // for the next. False with `error` set when libcurl itself fails.
    bool FetchAll(std::vector<Download>& downloads, size_t jobs, std::string& error);

    // One GET into `body` (at most `maxBytes`, more is an error).
    HttpAnswer Fetch(const std::string& url, std::string& body, size_t maxBytes);

private:
    struct State;
    std::unique_ptr<State> state_;
};
