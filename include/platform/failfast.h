// Fail-fast: the process ends at once, with one line on stderr naming the
// status, through SIGABRT. Nothing is unwound or flushed.
#pragma once

#include "platform/types.h"

extern "C" {
// Writes "fail-fast: status 0x%08X (<context>)" to stderr, then raises SIGABRT.
[[noreturn]] void RoFailFastWithErrorContext(HRESULT status);
}

namespace platform {
// As above, with a short context text (may be null) in the line.
[[noreturn]] void FailFast(HRESULT status, const char* context) noexcept;
}  // namespace platform
