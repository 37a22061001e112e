#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <process.h>

#include "common/win_compat.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "path_rules.h"
#include "tree_scan.h"

namespace fs = std::filesystem;

namespace {

std::string SystemReason() { return errno != 0 ? std::strerror(errno) : "unknown error"; }

#ifdef _WIN32

int ProcessId() { return ::_getpid(); }
std::FILE* OpenForWriting(const fs::path& path) { return ::_wfopen(path.c_str(), L"wb"); }
bool SyncToDisk(std::FILE* file) { return ::_commit(::_fileno(file)) == 0; }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    reason = "the rename failed (Windows error " + std::to_string(::GetLastError()) + ")";
    return false;
}

#else

int ProcessId() { return static_cast<int>(::getpid()); }
std::FILE* OpenForWriting(const fs::path& path) { return std::fopen(path.c_str(), "wb"); }
bool SyncToDisk(std::FILE* file) { return ::fsync(::fileno(file)) == 0; }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        reason = SystemReason();
        return false;
    }
    // The rename itself lasts only once the folder is on disk too; failing
    // that is no reason to report the file as unwritten.
    const std::string folder = to.parent_path().empty() ? std::string(".") : to.parent_path().string();
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
    return true;
}

#endif

}  // namespace

bool WriteFileAtomically(const fs::path& target, std::string_view text, std::string& error) {
    fs::path temporary = target;
    temporary += ".";
    temporary += std::to_string(ProcessId());
    temporary += ".new";
    const std::string shown = Printable(NameBytes(target));

    errno = 0;
    std::FILE* file = OpenForWriting(temporary);
    if (!file) {
        error = "cannot create " + Printable(NameBytes(temporary)) + ": " + SystemReason();
        return false;
    }
    errno = 0;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0 &&
              SyncToDisk(file);
    std::string reason = ok ? std::string() : SystemReason();
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        reason = SystemReason();
    }
    if (ok) ok = ReplaceFile(temporary, target, reason);
    if (!ok) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        error = "cannot write " + shown + ": " + reason;
    }
    return ok;
}
