// The two ways in which members build a String from UTF-16 units. Both give
// the empty String (no handle) at the edges, and raise the platform's failure
// as the matching runtime error, so that the member returns its status code.
#pragma once

#include <cstddef>

#include "platform/winstring.h"

namespace component {

// The units of `text` before its first NUL. A null `text` gives the empty
// String. Returns the new handle, owned by the caller. Throws the error kind
// of WindowsCreateString's failure (OutOfMemoryException when memory is
// exhausted or the text is longer than a String can hold).
platform::UniqueHString StringFromNulTerminated(const WCHAR* text);

// Exactly `length` units of `units`, NUL units included. A null `units` or a
// length of 0 gives the empty String. Returns the new handle, owned by the
// caller. Throws as StringFromNulTerminated.
platform::UniqueHString StringFromCounted(const WCHAR* units, size_t length);

}  // namespace component
