#include "platform/failfast.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace platform {

void FailFast(HRESULT status, const char* context) noexcept {
    char line[160];
    int length = std::snprintf(line, sizeof line, "fail-fast: status 0x%08X (%s)\n",
                               static_cast<unsigned>(status), context != nullptr ? context : "no context");
    if (length > 0) {
        // One write(2), no stdio buffering: the line must be out before the signal.
        [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, line, static_cast<size_t>(length));
    }
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
    std::_Exit(134);  // only reached if SIGABRT was blocked
}

}  // namespace platform

extern "C" void RoFailFastWithErrorContext(HRESULT status) { platform::FailFast(status, "fail-fast requested"); }
