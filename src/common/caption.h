#pragma once
// The program's name as the player sees it: the window title and the caption
// of every message box, the crash message's included.

constexpr wchar_t kPatcherCaption[] = L"Zerandis Patcher";
