#pragma once
// The one place for MinGW-w64 header quirks. Include instead of <windows.h>.

#include <windows.h>

// Older MinGW headers lack a few constants that current Windows SDKs define.
#ifndef ERROR_NO_UNICODE_TRANSLATION
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#endif
#ifndef PROCESS_QUERY_LIMITED_INFORMATION
#define PROCESS_QUERY_LIMITED_INFORMATION 0x1000
#endif
