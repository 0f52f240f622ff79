// The access layer that RegistryManager's members share: the key path of a
// device entry, opening a key for writing (creating it when missing), and
// reading one value into a caller's buffer. Every key handle it opens is
// closed before it returns or is handed to the caller in an owner.
#pragma once

#include <string>

#include "platform/registry.h"
#include "platform/winstring.h"

namespace component::registry {

// DevicesKeyPath followed by the units of `deviceId` before its first NUL
// unit (all of them when it has none); no separator is added, the prefix
// ends in a backslash. A null or empty id gives DevicesKeyPath alone.
// Returns a new text owned by the caller; throws std::bad_alloc when memory
// is exhausted (which the boundary turns into a fail-fast).
std::u16string MakeDeviceKeyPath(HSTRING deviceId);

// Opens HKEY_LOCAL_MACHINE\`path` with KEY_WRITE, or, when that fails, creates
// it (and every missing key above it) with KEY_WRITE and default security.
// Returns the open key in an owner that closes it, or an empty owner when
// the key neither opens nor can be created (the caller then writes nothing).
// `path` is read up to its first NUL and must not be null.
platform::UniqueHkey OpenKeyForWriting(const WCHAR* path);

// Reads value `valueName` of HKEY_LOCAL_MACHINE\`keyPath` (both read up to
// their first NUL) into `buffer`, whose capacity in bytes is `*size`.
// Returns true exactly when the platform reported success; `*size` then
// holds the data's byte count, otherwise whatever the platform left there.
// Returns false without touching the store when `buffer` or `size` is null
// or `*size` is 0. No key handle is left open.
bool ReadRegistryValue(const WCHAR* keyPath, const WCHAR* valueName, BYTE* buffer, DWORD* size);

}  // namespace component::registry
