#include "exit_handlers.h"

#include <utility>
#include <vector>

#include "platform/combase.h"

namespace component {
namespace {

SRWLOCK handlersLock = SRWLOCK_INIT;

std::vector<std::function<void()>>& Handlers() {
    static std::vector<std::function<void()>> handlers;
    return handlers;
}

// Takes the newest handler out of the list; false when it is empty.
bool TakeNewest(std::function<void()>& handler) {
    platform::ExclusiveLock guard(handlersLock);
    auto& handlers = Handlers();
    if (handlers.empty()) return false;
    handler = std::move(handlers.back());
    handlers.pop_back();
    return true;
}

}  // namespace

void RegisterExitHandler(std::function<void()> handler) {
    platform::ExclusiveLock guard(handlersLock);
    Handlers().push_back(std::move(handler));
}

void RunExitHandlers() noexcept {
    std::function<void()> handler;
    while (TakeNewest(handler)) {
        handler();
        handler = nullptr;
    }
}

void ReserveExitHandlers(size_t count) {
    platform::ExclusiveLock guard(handlersLock);
    Handlers().reserve(count);
}

void ReleaseExitHandlerStorage() noexcept {
    platform::ExclusiveLock guard(handlersLock);
    std::vector<std::function<void()>>().swap(Handlers());
}

}  // namespace component
