// The internal operations behind the disconnection-logging flag and its
// change event: one read and one write of the flag's registry value, and the
// raise of GPSLoggingSettingsChanged. The member routines (registry_members.h)
// are built from them.
#pragma once

#include "platform/types.h"

namespace component::registry {

// Reads the data of "DisconnectionLoggingNeeded" under the connection
// service's key into `buffer`, which holds *size bytes; *size is left as the
// registry left it. Returns true when the read succeeded. Returns false
// without touching the registry when `buffer` or `size` is null or *size is
// 0, and false when the key does not open for reading, the value is missing
// or its data do not fit (the registry then writes nothing into `buffer`).
// The value's type is not asked for. The key is closed before returning.
bool ReadDisconnectionLoggingValue(void* buffer, DWORD* size) noexcept;

// Stores `number` as "DisconnectionLoggingNeeded" (REG_DWORD, four bytes,
// little-endian) under the connection service's key, which is opened for
// setting values only and never created. Returns true when the value was set;
// false when the key is missing, the access is refused or the set failed.
bool WriteDisconnectionLoggingValue(DWORD number) noexcept;

// Calls every handler registered for GPSLoggingSettingsChanged with `value`,
// one at a time in the order of registration, over a snapshot of the handler
// list taken at the start (no lock is held while a handler runs). A handler
// that answers RPC_E_DISCONNECTED (from Invoke, or from the query for the
// delegate interface) loses its registration and the raise goes on. Any
// other failure ends the raise and is raised as its error kind; the handlers
// after the failing one are not called and the failing one stays registered.
void RaiseGPSLoggingSettingsChanged(bool value);

}  // namespace component::registry
