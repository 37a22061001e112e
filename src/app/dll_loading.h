#pragma once
// Where the program's DLLs come from: System32 only, never the game folder
// (which any user may be able to write), on every supported system.

#include "common/win_compat.h"

// Limits the process's DLL search to System32 where the system can (Windows 8
// on, Windows 7 with KB2533623); elsewhere drops the current folder from it,
// every DLL the program loads itself going by full path anyway. The first call
// of wWinMain; it also brings in the delay-load hooks below it, which load
// winhttp and bcrypt from System32 and end the program with a message when one
// cannot be loaded.
void LimitDllSearchToSystem32();

// Loads System32\<name> for a program that binds it at run time (comctl32).
// A DLL that cannot be loaded ends the program as a delay-loaded one does:
// the message "Nie można załadować biblioteki systemowej <name>: ...", the
// log line, exit code 1.
HMODULE LoadRequiredSystemLibrary(const char* name);

// The function `function` of `library`, loaded by LoadRequiredSystemLibrary
// from `name`; one it lacks ends the program the same way.
FARPROC RequiredSystemFunction(HMODULE library, const char* name, const char* function);
