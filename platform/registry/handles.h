// The process's table of open key handles. An HKEY is an index into it with
// a generation, so a closed or forged handle is recognised instead of used.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/registry.h"
#include "store.h"

namespace platform::registry {

// What a handle stands for: a key of a store, and the rights it was opened with.
struct KeyRef {
    std::shared_ptr<Store> store;
    int64_t id = 0;
    REGSAM access = 0;
};

// HKEY_LOCAL_MACHINE: the root of the current device root's store, with every
// right. Another handle: what OpenHandle recorded. Returns ERROR_SUCCESS, or
// ERROR_INVALID_HANDLE for NULL, closed and unknown handles (other
// predefined roots included), or the store's error for HKEY_LOCAL_MACHINE.
LONG ResolveKey(HKEY key, KeyRef& out);

// Records ref under a new handle in out. ERROR_NOT_ENOUGH_MEMORY when the
// table is full.
LONG OpenHandle(KeyRef ref, HKEY& out);

// Forgets a handle. ERROR_INVALID_HANDLE when it is not open.
LONG CloseHandle(HKEY key);

uint32_t OpenHandleCount() noexcept;

inline bool IsRootHandle(HKEY key) noexcept { return key == HKEY_LOCAL_MACHINE; }

}  // namespace platform::registry
