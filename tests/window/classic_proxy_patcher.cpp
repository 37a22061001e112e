// Linked into a test build of the patcher: its sessions open as on Windows 7
// and 8.0, whose WinHTTP refuses the automatic proxy. (Wine accepts it, and
// then ignores Internet Options.)
#include "net/proxy_choice.h"

namespace {

HINTERNET RefuseAutomaticProxy(const wchar_t* userAgent, DWORD accessType, const wchar_t* proxy,
                               const wchar_t* bypass) {
    if (accessType == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::WinHttpOpen(userAgent, accessType, proxy, bypass, 0);
}

// Set before wWinMain, so before the first session.
const bool installed = (OpenWinHttpSession = RefuseAutomaticProxy, true);

}  // namespace
