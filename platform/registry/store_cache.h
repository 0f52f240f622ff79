// Which store a root-relative call uses: the one in the current device root.
// Stores stay open for the life of the process, one per root folder, so that
// a process (or a test) that changes MORVALA_ROOT reaches the new root while
// handles opened earlier stay bound to their own store.
#pragma once

#include <memory>

#include "store.h"

namespace platform::registry {

// The store of the current device root (<root>/registry.db), opened and, when
// new, created on first use. Success: ERROR_SUCCESS and the store in out; a
// store that is absent and cannot be created here is an empty read-only one.
// Failure: ERROR_BADDB, ERROR_ACCESS_DENIED, ERROR_BUSY or another registry
// code, and out untouched. A failed open is not remembered; the next call
// tries again.
LONG CurrentStore(std::shared_ptr<Store>& out);

// The same store as CurrentStore, lent to the calling thread: valid until the
// thread's next call of this function. The thread keeps its own reference,
// so that the common case (the same root as last time) takes no lock and
// changes no count shared with other threads.
LONG CurrentStoreForThread(Store*& out);

}  // namespace platform::registry
