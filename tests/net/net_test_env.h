#pragma once
// The network test servers as the tests see them (see tests/net/CMakeLists.txt).

#include <cstdint>
#include <string>
#include <vector>

// One request as the scripted server recorded it.
struct RecordedRequest {
    std::string listener;
    std::string path;       // with the query
    std::string userAgent;
    std::string tls;        // "TLSv1.2", or empty for plain HTTP
};

// A value of servers.env (file named by PATCHER_NET_ENV); empty when missing.
std::string NetEnvValue(const std::string& key);

// "https://localhost:<port of KEY>" (or http:// for PLAIN_PORT).
std::wstring ServerBase(const std::string& portKey, const wchar_t* host = L"localhost");

// Every request the scripted server has recorded so far whose path is `path`.
std::vector<RecordedRequest> RequestsFor(const std::string& path);

// Every request recorded so far whose path (with the query) starts with `prefix`.
std::vector<RecordedRequest> RequestsWithPrefix(const std::string& prefix);

// A fresh empty directory under the system temp folder.
std::wstring MakeTempDir(const std::wstring& tag);

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
bool FileExists(const std::wstring& path);

// n bytes of the scripted server's pattern: byte i = i % 251.
std::string PatternBytes(std::size_t n);

// A path, unique per call, usable as a request's query to tell requests apart.
std::string UniqueToken();
