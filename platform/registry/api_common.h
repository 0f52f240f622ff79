// Helpers shared by the exported registry functions.
#pragma once

#include <cstring>
#include <new>

#include "platform/registry.h"

namespace platform::registry {

// Rights that change the store; refused on a store this process cannot write.
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC |
                                WRITE_OWNER;

// The specific key rights that samDesired asks for, generic rights expanded.
// MAXIMUM_ALLOWED asks for everything the store allows.
inline REGSAM NormalizeAccess(REGSAM desired, bool readOnlyStore) noexcept {
    REGSAM access = desired & (KEY_ALL_ACCESS | WRITE_DAC | WRITE_OWNER);
    if (desired & GENERIC_READ) access |= KEY_READ;
    if (desired & GENERIC_WRITE) access |= KEY_WRITE;
    if (desired & GENERIC_EXECUTE) access |= KEY_EXECUTE;
    if (desired & GENERIC_ALL) access |= KEY_ALL_ACCESS;
    if (desired & MAXIMUM_ALLOWED) access |= readOnlyStore ? KEY_READ : KEY_ALL_ACCESS;
    return access;
}

// Runs an exported function's body; a failed allocation becomes
// ERROR_OUTOFMEMORY instead of an exception crossing the C boundary.
template <class Body>
LONG Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (...) {
        return ERROR_REGISTRY_IO_FAILED;
    }
}

inline FILETIME FileTimeOf(int64_t ticks) noexcept {
    auto value = static_cast<uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

inline bool IsStringType(DWORD type) noexcept {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// Copies a value's data into a buffer of capacity bytes that holds it. String
// data whose last unit is not NUL gets a NUL after it when two bytes remain;
// the reported size does not count it.
inline void CopyData(DWORD type, const void* data, size_t size, BYTE* out, DWORD capacity) noexcept {
    if (size != 0) std::memcpy(out, data, size);
    if (IsStringType(type) && size >= 2 && capacity - size >= 2 && (out[size - 2] != 0 || out[size - 1] != 0)) {
        out[size] = 0;
        out[size + 1] = 0;
    }
}

}  // namespace platform::registry
