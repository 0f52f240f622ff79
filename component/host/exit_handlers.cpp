#include "exit_handlers.h"

#include <new>
#include <utility>
#include <vector>

#include "platform/combase.h"
#include "platform/errors.h"

namespace component {
namespace {

using HandlerList = std::vector<std::function<void()>>;

// The list lives from the per-module data step to its teardown; it is not a
// static object, so that no static destructor can end it before the library's
// detach has run the handlers.
SRWLOCK handlersLock = SRWLOCK_INIT;
HandlerList* handlers = nullptr;  // guarded by handlersLock

// Takes the newest handler out of the list; false when it is empty or gone.
bool TakeNewest(std::function<void()>& handler) {
    platform::ExclusiveLock guard(handlersLock);
    if (handlers == nullptr || handlers->empty()) return false;
    handler = std::move(handlers->back());
    handlers->pop_back();
    return true;
}

}  // namespace

void RegisterExitHandler(std::function<void()> handler) {
    platform::ExclusiveLock guard(handlersLock);
    if (handlers == nullptr) throw platform::COMException(E_UNEXPECTED);  // the library is not attached
    handlers->push_back(std::move(handler));
}

void RunExitHandlers() noexcept {
    std::function<void()> handler;
    while (TakeNewest(handler)) {
        handler();
        handler = nullptr;
    }
}

bool CreateExitHandlerStorage(size_t count) noexcept {
    auto* made = new (std::nothrow) HandlerList;
    if (made == nullptr) return false;
    try {
        made->reserve(count);
    } catch (const std::bad_alloc&) {
        delete made;
        return false;
    }
    platform::ExclusiveLock guard(handlersLock);
    delete handlers;  // an earlier attach that was never detached
    handlers = made;
    return true;
}

void ReleaseExitHandlerStorage() noexcept {
    HandlerList* gone = nullptr;
    {
        platform::ExclusiveLock guard(handlersLock);
        gone = std::exchange(handlers, nullptr);
    }
    delete gone;
}

}  // namespace component
