// Conversions between the runtime's String and the registry's wide text.
#pragma once

#include <cstddef>
#include <string>

#include "platform/winstring.h"

namespace component::registry {

// Every unit of `text` (its full length, NUL units included) followed by one
// terminating NUL; a null String gives the empty text. Returns a new text
// owned by the caller; throws std::bad_alloc when memory is exhausted.
std::u16string ToWideText(HSTRING text);

// A new String of the units of `units` before its first NUL, or of all
// `available` units when none of them is NUL. A null `units` or no units give
// the empty String. Returns the handle, owned by the caller; throws the
// runtime error of a failed String creation.
platform::UniqueHString TextFromNulTerminated(const WCHAR* units, size_t available);

// A new String of exactly `count` units of `units`, NUL units included; a
// count of 0 gives the empty String. Owned by the caller; throws as above.
platform::UniqueHString TextFromCounted(const WCHAR* units, size_t count);

// A new String with the decimal rendering of `value`: a minus sign for a
// negative number, then its digits, no grouping (all bits set gives "-1").
// Owned by the caller; throws as above.
platform::UniqueHString TextFromInt32(INT32 value);

}  // namespace component::registry
