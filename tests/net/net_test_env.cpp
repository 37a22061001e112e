#include "net_test_env.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "common/win_compat.h"

namespace {

// Linux paths are reachable through Wine's Z: drive.
std::string WinePath(const std::string& unixPath) {
    std::string path("Z:");
    path += unixPath;
    return path;
}

// The string value of "key": "..." in one JSON line (no escapes in our values).
std::string JsonField(const std::string& line, const std::string& key) {
    std::string marker("\"");
    marker += key;
    marker += "\": \"";
    const std::size_t start = line.find(marker);
    if (start == std::string::npos) return {};
    const std::size_t from = start + marker.size();
    const std::size_t end = line.find('"', from);
    return line.substr(from, end - from);
}

}  // namespace

std::string NetEnvValue(const std::string& key) {
    const char* envFile = std::getenv("PATCHER_NET_ENV");
    if (envFile == nullptr) return {};
    std::ifstream in(WinePath(envFile));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}

std::wstring ServerBase(const std::string& portKey, const wchar_t* host) {
    const std::wstring scheme = portKey == "PLAIN_PORT" ? L"http://" : L"https://";
    return scheme + host + L":" + Utf8ToWide(NetEnvValue(portKey));
}

namespace {

template <typename Match>
std::vector<RecordedRequest> RecordedRequests(Match matches) {
    std::vector<RecordedRequest> found;
    std::ifstream in(WinePath(NetEnvValue("REQUEST_LOG")));
    std::string line;
    while (std::getline(in, line)) {
        const std::string path = JsonField(line, "path");
        if (!matches(path)) continue;
        found.push_back({JsonField(line, "listener"), path, JsonField(line, "user_agent"),
                         JsonField(line, "tls")});
    }
    return found;
}

}  // namespace

std::vector<RecordedRequest> RequestsFor(const std::string& path) {
    return RecordedRequests([&](const std::string& recorded) { return recorded == path; });
}

std::vector<RecordedRequest> RequestsWithPrefix(const std::string& prefix) {
    return RecordedRequests([&](const std::string& recorded) { return recorded.rfind(prefix, 0) == 0; });
}

std::wstring MakeTempDir(const std::wstring& tag) {
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, base);
    const std::wstring dir = std::wstring(base) + L"net_" + tag + L"_" +
                             std::to_wstring(::GetCurrentProcessId()) + L"_" +
                             std::to_wstring(counter++);
    ::CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}

std::string ReadWholeFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string PatternBytes(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

std::string UniqueToken() {
    static std::atomic<int> counter{0};
    std::string token("t");
    token += std::to_string(::GetCurrentProcessId());
    token += '_';
    token += std::to_string(counter++);
    return token;
}
