// One timed download, printed as "<mode> bytes=<n> seconds=<s> peak_private=<b> private=<b>".
//   download_bench lib  URL FILE   DownloadToFile
//   download_bench bare URL FILE   the least a WinHTTP download can do: one
//                                  request, a 1 MiB ReadData loop, WriteFile
//   download_bench bare_settings URL FILE   the same with the patcher's
//                                  time-outs, TLS 1.2-only option and final
//                                  flush: the work DownloadToFile does
//   download_bench bare_list BASE_URL LIST DIR   the bare loop over many files,
//                                  one connection each: every line of LIST is a
//                                  path below BASE_URL (with "/"), saved under DIR
//   download_bench bare_list_durable BASE_URL LIST DIR   the same loop doing
//                                  the run's work per file: its TLS settings,
//                                  the staged file flushed and read back for
//                                  its MD5, renamed into place with write-
//                                  through, two log lines each flushed (DIR\bench_log.txt)
// The memory figures are this process's PeakPagefileUsage and PrivateUsage.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/handle.h"
#include "net/file_md5.h"
#include "net/https_request.h"
#include "net/transfer.h"

#include <psapi.h>

namespace {

bool BareDownload(const std::wstring& url, const std::wstring& path, bool patcherSettings, bool flush,
                  std::uint64_t& total) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    const std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    WinHttpHandle session(::WinHttpOpen(L"bare", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (patcherSettings) {
        ::WinHttpSetTimeouts(session.Get(), 10000, 10000, 15000, 30000);
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        ::WinHttpSetOption(session.Get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    }
    WinHttpHandle connection(::WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    WinHttpHandle request(::WinHttpOpenRequest(connection.Get(), L"GET", object.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               WINHTTP_FLAG_SECURE));
    if (!request || !::WinHttpSendRequest(request.Get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return false;
    }
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::unique_ptr<char[]> buffer(new char[1048576]);
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(request.Get(), buffer.get(), 1048576, &read)) return false;
        if (read == 0) return !flush || ::FlushFileBuffers(file.Get());
        DWORD written = 0;
        if (!::WriteFile(file.Get(), buffer.get(), read, &written, nullptr)) return false;
        total += written;
    }
}

// The paths listed in `listFile`, one per line.
std::vector<std::string> ReadList(const wchar_t* listFile) {
    std::ifstream in(listFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// One line appended to the log and flushed, the way the patcher's log writes each line.
bool AppendFlushedLine(const std::wstring& log, const std::string& line) {
    FileHandle file(::CreateFileW(log.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
           ::FlushFileBuffers(file.Get());
}

// The steps the run takes per file beyond a bare transfer: its TLS settings,
// the staged copy flushed (in BareDownload) and hashed from disk as the run
// verifies it, renamed over the target with write-through, and two flushed log lines.
bool DurableDownload(const std::wstring& url, const std::wstring& path, const std::wstring& log,
                     const std::string& relative, std::uint64_t& total) {
    const std::wstring staged = path + L".download";
    std::wstring md5, error;
    return AppendFlushedLine(log, "[bench] Pobieranie: " + relative + "\r\n") &&
           BareDownload(url, staged, true, true, total) && ComputeFileMd5(staged, md5, error) &&
           ::MoveFileExW(staged.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) &&
           AppendFlushedLine(log, "[bench] Zainstalowano: " + relative + "\r\n");
}

// Every listed file in turn, each on a connection of its own, as the patcher
// fetches them; parent folders are made as they come up.
bool BareDownloadList(const std::wstring& baseUrl, const std::vector<std::string>& list, const std::wstring& dir,
                      bool durable, std::uint64_t& total) {
    const std::wstring log = dir + L"\\bench_log.txt";
    std::wstring madeFolder;
    for (const std::string& relative : list) {
        std::wstring local(relative.begin(), relative.end());  // ASCII names
        for (wchar_t& c : local) {
            if (c == L'/') c = L'\\';
        }
        const std::wstring path = dir + L"\\" + local;
        const std::wstring folder = path.substr(0, path.rfind(L'\\'));
        if (folder != madeFolder) {
            ::CreateDirectoryW(folder.c_str(), nullptr);  // one level is enough for the benchmark clients
            madeFolder = folder;
        }
        const std::wstring url = baseUrl + std::wstring(relative.begin(), relative.end());
        if (!(durable ? DurableDownload(url, path, log, relative, total) : BareDownload(url, path, false, false, total))) {
            return false;
        }
    }
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    const bool listMode = mode == L"bare_list" || mode == L"bare_list_durable";
    if (argc != (listMode ? 5 : 4)) {
        std::fwprintf(stderr, L"usage: download_bench lib|bare|bare_settings URL FILE\n"
                              L"       download_bench bare_list|bare_list_durable BASE_URL LIST DIR\n");
        return 2;
    }
    std::uint64_t total = 0;
    std::wstring error;
    std::vector<std::string> list;
    if (listMode) list = ReadList(argv[3]);
    const auto start = std::chrono::steady_clock::now();
    bool ok;
    if (listMode) {
        ok = !list.empty() && BareDownloadList(argv[2], list, argv[4], mode == L"bare_list_durable", total);
    } else if (mode == L"bare" || mode == L"bare_settings") {
        const bool sameWork = mode == L"bare_settings";
        ok = BareDownload(argv[2], argv[3], sameWork, sameWork, total);
    } else {
        ok = DownloadToFile(argv[2], argv[3], [&](std::uint64_t count) { total = count; }, error);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof(memory));
    if (!listMode) ::DeleteFileW(argv[3]);
    if (!ok) {
        std::fwprintf(stderr, L"download failed: %ls\n", error.c_str());
        return 1;
    }
    std::printf("%ls files=%zu bytes=%llu seconds=%.3f peak_private=%llu private=%llu\n", mode.c_str(),
                listMode ? list.size() : std::size_t{1}, static_cast<unsigned long long>(total), seconds,
                static_cast<unsigned long long>(memory.PeakPagefileUsage),
                static_cast<unsigned long long>(memory.PrivateUsage));
    return 0;
}
