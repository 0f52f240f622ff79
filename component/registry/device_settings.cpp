// The accessory device members and the accessories version.
#include <cstdint>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "access_layer.h"
#include "host/module.h"
#include "platform/collections.h"
#include "platform/errors.h"
#include "registry_members.h"
#include "settings_store.h"
#include "string_conversions.h"

namespace component::registry {

namespace {

// Capacities offered to the store: names of at most 254 characters (255 with
// the terminator), data of at most 510 bytes.
constexpr DWORD NameCapacity = 255;
constexpr DWORD DataCapacity = 510;

// The byte count of `units` UTF-16 units, or false when it does not fit the
// store's 32-bit count (the value is then not written rather than cut short).
bool ByteCount(size_t units, DWORD& bytes) {
    if (units > std::numeric_limits<DWORD>::max() / sizeof(WCHAR)) return false;
    bytes = static_cast<DWORD>(units * sizeof(WCHAR));
    return true;
}

// A REG_DWORD value's text: its data as a signed little-endian 32-bit number.
// Data of fewer than four bytes are the number those bytes make, the missing
// high bytes taken as zero (never the buffer's stale contents); bytes past the
// fourth are not looked at.
platform::UniqueHString DwordText(const WCHAR* data, DWORD byteCount) {
    const auto* bytes = reinterpret_cast<const BYTE*>(data);
    uint32_t number = 0;
    for (DWORD i = 0; i < byteCount && i < 4; ++i) number |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    return TextFromInt32(static_cast<INT32>(number));
}

// How often a list of devices is read again because a device was added or
// deleted while it was read.
constexpr int SnapshotAttempts = 16;

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The ids of the devices key's subkeys that could be read, in the store's
// enumeration order. Subkeys are read by index, and a device added or deleted
// meanwhile shifts the indexes (another device would be missed or read
// twice), so the key's last-write time, which every added or deleted subkey
// changes, is compared before and after, and a list read across a change is
// read again (the last attempt's list is kept). A devices key that does not
// open gives no ids.
std::vector<std::u16string> DeviceIdSnapshot() {
    std::vector<std::u16string> ids;
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, DevicesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS || !key)
        return ids;
    for (int attempt = 0; attempt < SnapshotAttempts; ++attempt) {
        DWORD count = 0;
        FILETIME before{}, after{}, subkeyWrite{};
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &before);
        ids.clear();
        WCHAR name[NameCapacity];
        for (DWORD index = 0; index < count; ++index) {
            DWORD length = NameCapacity;
            // A subkey whose name does not fit, or that went away since the
            // count was taken, is skipped.
            if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, &subkeyWrite) ==
                ERROR_SUCCESS)
                ids.emplace_back(name, length);
        }
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &after) != ERROR_SUCCESS ||
            SameTime(before, after))
            break;
    }
    return ids;
}

// True when the device key path addresses the devices key itself: the id
// (up to its first NUL) is empty or made of backslashes only, which the store
// reads as separators.
bool NamesDevicesKey(const std::u16string& devicePath) {
    return devicePath.find_first_not_of(u'\\', std::size(DevicesKeyPath) - 1) == std::u16string::npos;
}

}  // namespace

platform::ComPtr<IMap_String_String> GetDeviceValues(HSTRING deviceId) {
    platform::ComPtr<IMap_String_String> map = platform::MakeStringMap(LiveObjects());
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MakeDeviceKeyPath(deviceId).c_str(), 0, KEY_READ, key.put()) !=
            ERROR_SUCCESS ||
        !key)
        return map;
    DWORD count = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                     nullptr, nullptr);
    WCHAR name[NameCapacity];
    WCHAR data[DataCapacity / sizeof(WCHAR)];
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = NameCapacity;
        DWORD dataSize = DataCapacity;
        DWORD type = REG_NONE;
        // A value whose name or data do not fit, or that went away since the
        // count was taken, is left out.
        if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                          &dataSize) != ERROR_SUCCESS)
            continue;
        platform::UniqueHString text = type == REG_DWORD ? DwordText(data, dataSize)
                                                         : TextFromNulTerminated(data, dataSize / sizeof(WCHAR));
        platform::UniqueHString valueName = TextFromNulTerminated(name, NameCapacity);
        boolean replaced = 0;
        platform::ThrowIfFailed(map->Insert(valueName.get(), text.get(), &replaced));
    }
    return map;
}

void SetDeviceValue(HSTRING deviceId, HSTRING valueName, HSTRING value) {
    const std::u16string path = MakeDeviceKeyPath(deviceId);
    // The value's units and its terminator: the runtime keeps a NUL after a
    // String's units, and the store reads the name up to its first NUL.
    UINT32 length = 0;
    const WCHAR* text = WindowsGetStringRawBuffer(value, &length);
    DWORD bytes = 0;
    if (!ByteCount(static_cast<size_t>(length) + 1, bytes)) {
        // Too long for the store's count: the key is made, nothing written.
        OpenKeyForWriting(path.c_str());
        return;
    }
    // The key found or made and the value written in one write of the store.
    // A refused write is not reported.
    platform::RegistrySetValue(HKEY_LOCAL_MACHINE, path.c_str(), WindowsGetStringRawBuffer(valueName, nullptr), REG_SZ,
                               reinterpret_cast<const BYTE*>(text), bytes);
}

platform::ComPtr<IVector_String> GetDeviceIds() {
    platform::ComPtr<IVector_String> ids = platform::MakeStringVector(LiveObjects());
    for (const std::u16string& name : DeviceIdSnapshot()) {
        platform::UniqueHString id = TextFromNulTerminated(name.data(), name.size());
        platform::ThrowIfFailed(ids->Append(id.get()));
    }
    return ids;
}

void DeleteDevice(HSTRING deviceId) {
    const std::u16string path = MakeDeviceKeyPath(deviceId);
    // An id that names no device would make the path the devices key itself,
    // and deleting that would remove every device: nothing is deleted then.
    if (NamesDevicesKey(path)) return;
    // A missing entry is no error.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str());
}

void SetAccessoriesVersion(HSTRING version) {
    platform::UniqueHkey key = OpenKeyForWriting(AccessoriesKeyPath);
    if (!key) return;
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(version, &length);
    DWORD bytes = 0;
    // The String's own units, without a copy and without a terminator. A
    // refused write is not reported.
    if (ByteCount(length, bytes))
        RegSetValueExW(key.get(), VersionValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(units), bytes);
}

bool DeviceExists(HSTRING deviceId) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(deviceId, &length);
    const std::u16string_view wanted(units, length);
    // Ordinal comparison of every unit, lengths included: case-sensitive,
    // although the store's own names are not.
    for (const std::u16string& name : DeviceIdSnapshot()) {
        if (name == wanted) return true;
    }
    return false;
}

}  // namespace component::registry
