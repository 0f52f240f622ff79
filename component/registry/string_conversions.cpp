#include "string_conversions.h"

#include <cstdint>
#include <iterator>
#include <string_view>

#include "host/strings.h"

namespace component::registry {

std::u16string ToWideText(HSTRING text) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(text, &length);
    // std::u16string keeps its own terminating NUL after the copied units.
    return std::u16string(units, length);
}

platform::UniqueHString TextFromNulTerminated(const WCHAR* units, size_t available) {
    if (units == nullptr) return {};
    const std::u16string_view all(units, available);
    return StringFromCounted(units, all.substr(0, all.find(u'\0')).size());
}

platform::UniqueHString TextFromCounted(const WCHAR* units, size_t count) { return StringFromCounted(units, count); }

platform::UniqueHString TextFromInt32(INT32 value) {
    // Eleven units hold the longest rendering, "-2147483648". The magnitude is
    // taken in 64 bits so that the smallest value needs no special case.
    WCHAR digits[11];
    size_t start = std::size(digits);
    int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
    do {
        digits[--start] = static_cast<WCHAR>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[--start] = u'-';
    return StringFromCounted(digits + start, std::size(digits) - start);
}

}  // namespace component::registry
