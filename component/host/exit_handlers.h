// Exit handlers: teardown routines that run when the library is unloaded (or
// the process exits), in the reverse order of their registration. Load steps
// register the teardown of what they set up; members may register one when
// they first create something that must outlive calls (the shared
// RegistryManager instance).
#pragma once

#include <functional>

namespace component {

// Adds `handler` to run at unload, before every handler registered earlier.
// Any thread may call it. Throws std::bad_alloc when memory is exhausted
// (inside a member, the boundary then ends the process).
void RegisterExitHandler(std::function<void()> handler);

// Runs and removes every registered handler, newest first; the lock is not
// held while a handler runs, so a handler may register another one (it runs
// next). Called by the library's detach, and by a load that fails half-way.
void RunExitHandlers() noexcept;

// Sets aside room for `count` handlers, so that registrations made while the
// library loads do not allocate. Throws std::bad_alloc.
void ReserveExitHandlers(size_t count);

// Frees the handler list's storage; the list must be empty (it is, once
// RunExitHandlers has run).
void ReleaseExitHandlerStorage() noexcept;

}  // namespace component
