// The general single-value reader.
#include <iterator>

#include "access_layer.h"
#include "registry_members.h"
#include "string_conversions.h"

namespace component::registry {

namespace {

constexpr WCHAR NoKeyText[] = u"no key";

}  // namespace

std::pair<INT32, platform::UniqueHString> GetRegistryValue(HSTRING keyPath, HSTRING valueName) {
    // 510 bytes, zeroed; held as UTF-16 units so that the result can be made
    // from it directly.
    WCHAR data[255] = {};
    DWORD size = sizeof data;
    // The raw buffers of the caller's Strings go to the store as they are:
    // the runtime keeps a NUL after their units, and the store reads paths and
    // names up to the first NUL.
    if (ReadRegistryValue(WindowsGetStringRawBuffer(keyPath, nullptr), WindowsGetStringRawBuffer(valueName, nullptr),
                          reinterpret_cast<BYTE*>(data), &size) &&
        size > 0) {
        // The value's type is not looked at; an odd last byte is dropped.
        return {1, TextFromCounted(data, size / sizeof(WCHAR))};
    }
    return {0, TextFromCounted(NoKeyText, std::size(NoKeyText) - 1)};
}

}  // namespace component::registry
