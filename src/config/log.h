#pragma once
// The patcher's diary, patcher.txt beside the executable: UTF-8 with a BOM,
// CR LF line ends, "[YYYY-MM-DD HH:MM:SS] message" per line. Support staff
// read it, so its format is fixed.

#include <string>

#include "common/win_compat.h"

// Appends one time-stamped line. Callable from any thread; a line that cannot
// be written is lost silently.
void WriteLog(const std::wstring& message);

// Where WriteLog writes: AppDirectory joined with "patcher.txt".
std::wstring LogFilePath();

// The message as it goes into the log: every run of line breaks becomes one
// space (none at the start or after a blank), trailing blanks removed.
std::wstring SanitizeLogMessage(const std::wstring& message);

// "[YYYY-MM-DD HH:MM:SS] " for the given local time.
std::wstring FormatLogTimestamp(const SYSTEMTIME& time);
