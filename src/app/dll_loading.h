#pragma once
// Where the program's DLLs come from: System32 only, never the game folder
// (which any user may be able to write), on every supported system.

// Limits the process's DLL search to System32 where the system can (Windows 8
// on, Windows 7 with KB2533623); elsewhere drops the current folder from it,
// every DLL the program loads itself going by full path anyway. The first call
// of wWinMain; it also brings in the delay-load hooks below it, which load
// winhttp and bcrypt from System32 and end the program with a message when one
// cannot be loaded.
void LimitDllSearchToSystem32();
