#include "run_harness.h"

#include <atomic>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/app_paths.h"
#include "common/run_flags.h"
#include "common/text.h"
#include "config/settings.h"
#include "net/file_md5.h"
#include "net_test_env.h"
#include "stand_in.h"
#include "update/run_report.h"
#include "update/update_run.h"

namespace {

constexpr wchar_t kRecorderClass[] = L"PatcherTestRecorder";
std::vector<Posted>* Recording = nullptr;
const std::function<void(const Posted&)>* Observer = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    if (message <= WM_APP || message > WM_PATCHER_RATE) return ::DefWindowProcW(window, message, wParam, lParam);
    const bool isText = IsTextMessage(message);
    Posted posted{message, isText ? 0 : wParam, {}};
    if (isText) posted.text = PostedText(lParam);
    if (Recording != nullptr) Recording->push_back(posted);
    if (Observer != nullptr && *Observer) (*Observer)(posted);
    // The recorder takes the window's part in the ownership rule; it only
    // notes WM_PATCHER_EXIT, where the real window destroys itself.
    if (isText) DeletePostedText(lParam);
    return 0;
}

std::mutex LongPathsLock;
std::vector<std::wstring> LongPaths;

void Note(const wchar_t* path) {
    if (path == nullptr || std::wcslen(path) < 248) return;
    const std::lock_guard<std::mutex> lock(LongPathsLock);
    LongPaths.emplace_back(path);
}

// The real function of each recorder, and the recorders: each notes its paths
// and calls through.
// (Looked up by name: `::name` may be a stub that jumps through the very slot.)
#define PATH_RECORDER(result, name, params, args, ...)                               \
    const auto Real##name = reinterpret_cast<decltype(&::name)>(reinterpret_cast<void*>( \
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), #name)));                \
    result WINAPI Record##name params {                \
        __VA_ARGS__;                                   \
        return Real##name args;                        \
    }
PATH_RECORDER(HANDLE, CreateFileW, (LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD c, DWORD f, HANDLE t),
              (p, a, s, sa, c, f, t), Note(p))
PATH_RECORDER(DWORD, GetFileAttributesW, (LPCWSTR p), (p), Note(p))
PATH_RECORDER(BOOL, GetFileAttributesExW, (LPCWSTR p, GET_FILEEX_INFO_LEVELS l, LPVOID d), (p, l, d), Note(p))
PATH_RECORDER(BOOL, SetFileAttributesW, (LPCWSTR p, DWORD a), (p, a), Note(p))
PATH_RECORDER(BOOL, DeleteFileW, (LPCWSTR p), (p), Note(p))
PATH_RECORDER(BOOL, MoveFileExW, (LPCWSTR p, LPCWSTR q, DWORD f), (p, q, f), Note(p); Note(q))
PATH_RECORDER(BOOL, CreateDirectoryW, (LPCWSTR p, LPSECURITY_ATTRIBUTES sa), (p, sa), Note(p))
PATH_RECORDER(DWORD, GetPrivateProfileStringW, (LPCWSTR s, LPCWSTR k, LPCWSTR d, LPWSTR r, DWORD n, LPCWSTR p),
              (s, k, d, r, n, p), Note(p))
#undef PATH_RECORDER

// Points every import slot of this executable that holds `from` at `to`.
void Redirect(const void* from, const void* to) {
    const auto base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        for (auto* slot = reinterpret_cast<const void**>(const_cast<unsigned char*>(base) + entry->FirstThunk);
             *slot != nullptr; ++slot) {
            if (*slot != from) continue;
            DWORD old = 0;
            ::VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
            *slot = to;
            ::VirtualProtect(slot, sizeof(*slot), old, &old);
        }
    }
}

template <typename Function>
void Swap(Function real, Function recorder, bool on) {
    Redirect(reinterpret_cast<const void*>(on ? real : recorder), reinterpret_cast<const void*>(on ? recorder : real));
}

void RecordLongPaths(bool on) {
    Swap(RealCreateFileW, RecordCreateFileW, on);
    Swap(RealGetFileAttributesW, RecordGetFileAttributesW, on);
    Swap(RealGetFileAttributesExW, RecordGetFileAttributesExW, on);
    Swap(RealSetFileAttributesW, RecordSetFileAttributesW, on);
    Swap(RealDeleteFileW, RecordDeleteFileW, on);
    Swap(RealMoveFileExW, RecordMoveFileExW, on);
    Swap(RealCreateDirectoryW, RecordCreateDirectoryW, on);
    Swap(RealGetPrivateProfileStringW, RecordGetPrivateProfileStringW, on);
}

HWND CreateRecorder() {
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = RecorderProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kRecorderClass;
        return ::RegisterClassW(&windowClass) != 0;
    }();
    if (!registered) return nullptr;
    return ::CreateWindowExW(0, kRecorderClass, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

void PumpPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::wstring Md5Of(const std::wstring& path) {
    std::wstring md5, error;
    ComputeFileMd5(path, md5, error);
    return md5;
}

}  // namespace

LongPathRecorder::LongPathRecorder() {
    LongPaths.clear();
    RecordLongPaths(true);
}

LongPathRecorder::~LongPathRecorder() { RecordLongPaths(false); }

std::vector<std::wstring> LongPathRecorder::Seen() const {
    const std::lock_guard<std::mutex> lock(LongPathsLock);
    return LongPaths;
}

Posted Status(const std::wstring& text) { return {WM_PATCHER_STATUS, 0, text}; }
Posted Detail(const std::wstring& text) { return {WM_PATCHER_DETAIL, 0, text}; }
Posted Counts(const std::wstring& text) { return {WM_PATCHER_COUNTS, 0, text}; }
Posted Rate(const std::wstring& text) { return {WM_PATCHER_RATE, 0, text}; }
Posted Number(UINT message, WPARAM value) { return {message, value, {}}; }

void PrintTo(const Posted& posted, std::ostream* out) {
    *out << '#' << (posted.message - WM_APP) << '=';
    if (IsTextMessage(posted.message)) {
        *out << WideToUtf8(posted.text);
    } else {
        *out << posted.value;
    }
}

std::string Describe(const std::vector<Posted>& posted) {
    std::ostringstream out;
    for (const Posted& p : posted) {
        PrintTo(p, &out);
        out << '\n';
    }
    return out.str();
}

void RunTest::SetUp() {
    Settings = PatcherSettings{};
    CancelRequested.store(false);
    RunActive.store(false);
    token_ = UniqueToken();
    rootDir_ = MakeTempDir(L"game");
    gameDir_ = rootDir_;
    SetAppPaths(gameDir_ + L"\\Zerandis_Patcher.exe");
    siteDir_ = Utf8ToWide("Z:" + NetEnvValue("WWW_DIR") + "/site/" + token_);
    std::filesystem::create_directories(siteDir_);
    // Every expected digest comes from the patcher's own MD5: one known digest
    // (RFC 1321's longest test string) keeps a wrong one from agreeing with itself.
    static const bool md5Anchored = [&] {
        const std::wstring anchor = AppendPath(rootDir_, L"rfc1321.txt");
        std::string text;
        for (int i = 0; i < 8; ++i) text += "1234567890";
        WriteBytes(anchor, text);
        const bool agrees = Md5Of(anchor) == L"57edf4a22be3c955ac49da2e2107b67a";
        std::filesystem::remove(std::filesystem::path(anchor));
        return agrees;
    }();
    ASSERT_TRUE(md5Anchored) << "ComputeFileMd5 disagrees with RFC 1321";
    recorder_ = CreateRecorder();
    ASSERT_NE(recorder_, nullptr);
    MainWindow = recorder_;
}

void RunTest::TearDown() {
    MainWindow = nullptr;
    if (recorder_ != nullptr) ::DestroyWindow(recorder_);
    PumpPending();
    CancelRequested.store(false);
    std::error_code ignored;
    std::filesystem::remove_all(rootDir_, ignored);
    std::filesystem::remove_all(siteDir_, ignored);
}

void RunTest::UseGameDirectory(const std::wstring& relativeToRoot) {
    gameDir_ = AppendPath(rootDir_, relativeToRoot);
    std::filesystem::create_directories(gameDir_);
    SetAppPaths(gameDir_ + L"\\Zerandis_Patcher.exe");
}

std::wstring RunTest::GameFile(const std::wstring& relative) const { return AppendPath(gameDir_, relative); }

void RunTest::WriteGameFile(const std::wstring& relative, const std::string& bytes) const {
    WriteBytes(GameFile(relative), bytes);
}

std::string RunTest::ReadGameFile(const std::wstring& relative) const { return ReadWholeFile(GameFile(relative)); }

std::wstring RunTest::SiteUrl() const { return ServerBase("SCRIPTED_PORT") + Utf8ToWide(SitePath()); }

void RunTest::PutOnSite(const std::wstring& relative, const std::string& bytes) const {
    WriteBytes(AppendPath(siteDir_, relative), bytes);
}

ManifestEntry RunTest::Publish(const std::wstring& relative, const std::string& bytes) {
    PutOnSite(relative, bytes);
    ManifestEntry entry{Md5Of(AppendPath(siteDir_, relative)), bytes.size(), relative};
    for (ManifestEntry& listed : published_) {
        if (listed.path == relative) return listed = entry;  // published again: keeps its place
    }
    published_.push_back(entry);
    return entry;
}

void RunTest::Plan(const std::wstring& relative, const std::vector<std::string>& actions) const {
    std::string plan;
    for (const std::string& action : actions) plan += action + "\n";
    WriteBytes(AppendPath(siteDir_, relative) + L".plan", plan);
}

void RunTest::WriteManifest() const {
    std::string text = "# test manifest\n";
    for (const ManifestEntry& e : published_) {
        std::wstring path = e.path;
        for (wchar_t& c : path) c = c == L'\\' ? L'/' : c;
        text += WideToUtf8(e.md5) + " " + std::to_string(e.size) + " " + WideToUtf8(path) + "\n";
    }
    WriteBytes(AppendPath(siteDir_, L"manifest.md5"), text);
}

std::vector<std::string> RunTest::SiteRequests() const {
    std::vector<std::string> paths;
    for (const RecordedRequest& r : RequestsWithPrefix(SitePath())) paths.push_back(r.path);
    return paths;
}

void RunTest::WriteIni(const std::string& extraLines) const {
    WriteRawIni("[PATCHER]\r\nBASE_URL=" + WideToUtf8(SiteUrl()) + "\r\n" + extraLines);
}

void RunTest::WriteRawIni(const std::string& content) const { WriteBytes(GameFile(L"patcher.ini"), content); }

std::vector<Posted> RunTest::Run(const std::function<void()>& body,
                                 const std::function<void(const Posted&)>& onPosted) {
    std::vector<Posted> posted;
    Recording = &posted;
    Observer = &onPosted;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        if (body) {
            body();
        } else {
            UpdateWorker();
        }
        finished.store(true);
    });
    while (!finished.load()) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        PumpPending();
    }
    worker.join();
    PumpPending();
    Recording = nullptr;
    Observer = nullptr;
    return posted;
}

std::vector<std::wstring> RunTest::Log() const { return LogMessages(); }

std::vector<std::wstring> TextsOf(const std::vector<Posted>& posted, UINT message) {
    std::vector<std::wstring> texts;
    for (const Posted& p : posted) {
        if (p.message == message) texts.push_back(p.text);
    }
    return texts;
}

std::vector<WPARAM> ValuesOf(const std::vector<Posted>& posted, UINT message) {
    std::vector<WPARAM> values;
    for (const Posted& p : posted) {
        if (p.message == message) values.push_back(p.value);
    }
    return values;
}

int IndexOf(const std::vector<Posted>& posted, const Posted& wanted, int from) {
    for (int i = from; i < static_cast<int>(posted.size()); ++i) {
        if (posted[i] == wanted) return i;
    }
    return -1;
}
