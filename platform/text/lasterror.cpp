#include "platform/text.h"

namespace {
thread_local DWORD lastError = 0;
}

extern "C" {

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD code) { lastError = code; }

}  // extern "C"
