#include "strings.h"

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace component {

platform::UniqueHString StringFromNulTerminated(const WCHAR* text) {
    if (text == nullptr) return {};
    return StringFromCounted(text, std::char_traits<char16_t>::length(text));
}

platform::UniqueHString StringFromCounted(const WCHAR* units, size_t length) {
    platform::UniqueHString result;
    // Checked before the platform call: it answers E_POINTER for a null
    // buffer with a length, where this helper gives the empty String.
    if (units == nullptr || length == 0) return result;
    if (length > UINT32_MAX) throw platform::OutOfMemoryException();
    platform::ThrowIfFailed(WindowsCreateString(units, static_cast<UINT32>(length), result.put()));
    return result;
}

}  // namespace component
