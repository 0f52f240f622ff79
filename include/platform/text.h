// Text and process services of the platform: the calling thread's last-error
// code, code-page conversion, the C runtime's decimal conversion, and the
// immediate process exit.
#pragma once

#include "platform/types.h"

using UINT = uint32_t;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr LONG ERROR_NO_UNICODE_TRANSLATION = 1113;

extern "C" {

// The calling thread's last-error code, as set by the functions below.
DWORD GetLastError();
void SetLastError(DWORD code);

// The system's ANSI code page: the REG_SZ value "ACP" under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Control\Nls\CodePage" in the device's registry,
// read once per device root and process; 1252 when absent or unreadable.
UINT GetACP();

// The OEM code page: the value "OEMCP" beside "ACP"; 437 when absent.
UINT GetOEMCP();

// Converts `byteCount` bytes of `source` (negative: up to and including its
// NUL) in `codePage` (CP_ACP, CP_OEMCP, CP_UTF8, or one of 874, 932, 936,
// 949, 950, 1250-1258) to UTF-16. With `capacity` 0 it returns the number of
// units needed and writes nothing; otherwise the number written. Returns 0
// and sets the last error on failure: ERROR_INVALID_PARAMETER (byteCount 0,
// null source, negative capacity, null destination with a capacity, unknown
// code page), ERROR_INVALID_FLAGS, ERROR_INSUFFICIENT_BUFFER (the destination
// then holds as many units as fit), ERROR_NO_UNICODE_TRANSLATION (invalid
// input under MB_ERR_INVALID_CHARS). Bytes that a code page does not define
// become the code page's default character; NUL bytes convert to NUL units.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int byteCount, WCHAR* destination,
                        int capacity);

// The C runtime's decimal conversion of wide text to a 32-bit number: leading
// white space (space, \t \n \v \f \r) skipped, one optional sign, then decimal
// digits up to the first non-digit; no digits give 0. A value outside the
// 32-bit range saturates to the largest or smallest 32-bit value, as the C runtime does. A
// null text gives 0.
LONG _wtol(const WCHAR* text);

// Ends the process at once with `exitCode`: the other threads are stopped
// where they stand, the unload sequence of every library the loader loaded
// runs, and the process exits without flushing anything of its own. Never
// returns; the exit code is `exitCode` even if an unload step hangs (a
// watchdog ends the process after a bounded wait).
[[noreturn]] void ExitProcess(UINT exitCode);

}  // extern "C"
