#pragma once
// The patcher's diary, patcher.txt beside the executable: UTF-8 with a BOM,
// CR LF line ends, "[YYYY-MM-DD HH:MM:SS] message" per line. Support staff
// read it, so its format is fixed.

#include <string>

#include "common/win_compat.h"

// Appends one time-stamped line. Callable from any thread; a line that cannot
// be written is lost silently.
void WriteLog(const std::wstring& message);

// The log's file name, beside the executable.
constexpr wchar_t kLogFileName[] = L"patcher.txt";

// Where WriteLog writes: AppDirectory joined with kLogFileName, in the
// "\\?\" form when the folder is long.
std::wstring LogFilePath();

// Appends one formatted UTF-8 line (its line end added here) to the log at
// `path`, with the BOM of a new file. Takes no lock and allocates nothing, so
// the crash report can use it whatever state the program is in.
void AppendLogLine(const wchar_t* path, const char* utf8Line, DWORD lineSize);

// AppendLogLine under the log's lock, for the crash report: waited for at
// most a second, then written without it, since the thread that holds it may
// be the one that faulted, stopped for good (its line is then never finished
// and cannot mix with this one).
void AppendCrashLogLine(const wchar_t* path, const char* utf8Line, DWORD lineSize);

// The message as it goes into the log: every run of line breaks becomes one
// space (none at the start or after a blank), trailing blanks removed.
std::wstring SanitizeLogMessage(const std::wstring& message);

// "[YYYY-MM-DD HH:MM:SS] " for the given local time.
std::wstring FormatLogTimestamp(const SYSTEMTIME& time);
