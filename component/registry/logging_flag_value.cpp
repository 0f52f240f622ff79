// The registry value behind the disconnection-logging flag: one read and one
// write, each opening the connection service's key for that call alone.
#include "logging_flag.h"
#include "platform/registry.h"
#include "settings_store.h"

namespace component::registry {

bool ReadDisconnectionLoggingValue(void* buffer, DWORD* size) noexcept {
    if (buffer == nullptr || size == nullptr || *size == 0) return false;
    // No type is asked for: whatever the value's type, its bytes are read. Data
    // longer than the buffer answer ERROR_MORE_DATA and leave the buffer as it
    // was. The key is opened and the value read in one read of the store.
    LONG status = platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, ConnectionServiceKeyPath,
                                               DisconnectionLoggingValueName, nullptr, static_cast<BYTE*>(buffer), size);
    return status == ERROR_SUCCESS;
}

bool WriteDisconnectionLoggingValue(DWORD number) noexcept {
    // Set-value access alone, and no create: the key belongs to the connection
    // service, and a missing key means there is nothing to configure.
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ConnectionServiceKeyPath, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS ||
        !key) {
        return false;
    }
    const BYTE data[sizeof(DWORD)] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                                      static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    LONG status = RegSetValueExW(key.get(), DisconnectionLoggingValueName, 0, REG_DWORD, data, sizeof data);
    return status == ERROR_SUCCESS;
}

}  // namespace component::registry
