// Exit handlers: teardown routines that run when the library is unloaded (or
// the process exits), in the reverse order of their registration. Load steps
// register the teardown of what they set up; members may register one when
// they first create something that must outlive calls (the shared
// RegistryManager instance).
#pragma once

#include <cstddef>
#include <functional>

namespace component {

// Adds `handler` to run at unload, before every handler registered earlier.
// Any thread may call it while the library is attached. Throws std::bad_alloc
// when memory is exhausted (inside a member, the boundary then ends the
// process), and COMException(E_UNEXPECTED) when the library is not attached.
void RegisterExitHandler(std::function<void()> handler);

// Runs and removes every registered handler, newest first; the lock is not
// held while a handler runs, so a handler may register another one (it runs
// next). Called by the library's detach, and by a load that fails half-way.
void RunExitHandlers() noexcept;

// The per-module data's part here: makes the handler list, with room for
// `count` handlers so that registrations made while the library loads do not
// allocate. False when memory is exhausted.
bool CreateExitHandlerStorage(size_t count) noexcept;

// Frees the handler list; later registrations fail until it is made again.
// Registered as the first exit handler, so that it runs last.
void ReleaseExitHandlerStorage() noexcept;

}  // namespace component
