// TEMPORARY: removed before the real modules are merged.
#include "system/file_replace.h"
#include "system/self_update.h"
#include "common/win_compat.h"
bool ReplaceLocalFile(const std::wstring& a, const std::wstring& b, std::wstring& e) {
  if (::MoveFileExW(a.c_str(), b.c_str(), 9)) return true;
  e = L"Nie można podmienić " + b;
  return false;
}
bool HandOffSelfUpdate(const std::wstring&, std::wstring& e) { e = L"stub"; return false; }
