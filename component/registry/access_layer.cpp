#include "access_layer.h"

#include <iterator>
#include <string_view>

#include "settings_store.h"

namespace component::registry {

std::u16string MakeDeviceKeyPath(HSTRING deviceId) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(deviceId, &length);
    // The store reads a path up to its first NUL; the id is cut there too, so
    // that the path handed over is exactly the one the store will see.
    const std::u16string_view id(units, length);
    const std::u16string_view beforeNul = id.substr(0, id.find(u'\0'));

    std::u16string path;
    path.reserve(std::size(DevicesKeyPath) - 1 + beforeNul.size());
    path.append(DevicesKeyPath).append(beforeNul);
    return path;
}

platform::UniqueHkey OpenKeyForWriting(const WCHAR* path) {
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE, key.put()) == ERROR_SUCCESS && key) return key;
    // Whether the key was made now or already existed does not matter here.
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS)
        return key;
    key.reset();
    return key;
}

bool ReadRegistryValue(const WCHAR* keyPath, const WCHAR* valueName, BYTE* buffer, DWORD* size) {
    if (buffer == nullptr || size == nullptr || *size == 0) return false;
    // Opening the key and querying the value in one read of the store, with
    // no handle to open and close.
    return platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, keyPath, valueName, nullptr, buffer, size) ==
           ERROR_SUCCESS;
}

}  // namespace component::registry
