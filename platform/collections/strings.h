// Small helpers shared by the collection objects: string views over HSTRING
// handles, owned duplicates, and the guard that turns the runtime's errors
// into status codes at each ABI method.
#pragma once

#include <new>
#include <string_view>

#include "platform/errors.h"
#include "platform/winstring.h"

namespace platform::collections {

// The units of a string (empty for the null handle); valid while the handle is.
inline std::u16string_view View(HSTRING string) noexcept {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    return {units, length};
}

// Ordinal order of UTF-16 units over the full lengths, the shorter of two
// strings with a common prefix first. char16_t is unsigned, so the standard
// comparison already compares code units as unsigned numbers.
inline bool OrdinalLess(HSTRING a, HSTRING b) noexcept { return View(a) < View(b); }
inline bool OrdinalEqual(HSTRING a, HSTRING b) noexcept { return View(a) == View(b); }

// An owned copy of `string`: the same handle with one more reference for a
// heap string, a heap copy for a reference string. Throws the error kind of
// the copy's failure (out of memory).
inline UniqueHString Duplicate(HSTRING string) {
    HSTRING copy = nullptr;
    ThrowIfFailed(WindowsDuplicateString(string, &copy));
    return UniqueHString(copy);
}

// Runs `body` (which returns a status code) and turns a runtime error or an
// exhausted allocator into its status code. Any other exception ends the
// process (noexcept), as for every boundary of the runtime.
template <typename Body>
HRESULT Guard(Body&& body) noexcept {
    try {
        return body();
    } catch (const RuntimeError& error) {
        return error.code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace platform::collections
