// The runtime's string functions over HSTRING handles: immutable,
// reference-counted UTF-16 buffers with a terminating NUL after their units,
// and reference strings that live in a caller's HSTRING_HEADER. The null
// handle is the empty string.
#pragma once

#include "platform/types.h"

// Storage for a reference string; the handle is this header's address.
struct HSTRING_HEADER {
    union {
        void* Reserved1;
        char Reserved2[24];
    } Reserved;
};

extern "C" {

// A new string of exactly `length` units copied from `source` (NUL units kept).
// S_OK with *string set (null for length 0); E_INVALIDARG when string is null;
// E_POINTER when source is null and length > 0; E_OUTOFMEMORY. The caller
// owns the handle and deletes it with WindowsDeleteString.
HRESULT WindowsCreateString(const WCHAR* source, UINT32 length, HSTRING* string);

// A string that refers to `source` without copying; source[length] must be
// NUL and the source must outlive the handle. E_INVALIDARG for a null header
// or out-parameter, E_POINTER for a null source with length > 0,
// E_STRING_NOT_NULL_TERMINATED when source[length] is not NUL. Deleting it
// frees nothing; duplicating it makes a real copy.
HRESULT WindowsCreateStringReference(const WCHAR* source, UINT32 length, HSTRING_HEADER* header,
                                     HSTRING* string);

// Releases one reference; S_OK for null and for reference strings.
HRESULT WindowsDeleteString(HSTRING string);

// Another reference to the same contents: the same handle for a heap string,
// a new heap copy for a reference string. E_INVALIDARG when newString is null.
HRESULT WindowsDuplicateString(HSTRING string, HSTRING* newString);

// The string's units, always followed by a NUL; never null (the empty string
// answers a static empty buffer). length may be null.
const WCHAR* WindowsGetStringRawBuffer(HSTRING string, UINT32* length);

// The number of units; 0 for null.
UINT32 WindowsGetStringLen(HSTRING string);

// TRUE when the string has no units.
BOOL WindowsIsStringEmpty(HSTRING string);

// *hasEmbedNull is TRUE when any of the string's units is NUL.
HRESULT WindowsStringHasEmbeddedNull(HSTRING string, BOOL* hasEmbedNull);

// Ordinal comparison unit by unit over the full lengths; the shorter of two
// strings with a common prefix sorts first. *result is -1, 0 or +1;
// E_INVALIDARG when result is null.
HRESULT WindowsCompareStringOrdinal(HSTRING string1, HSTRING string2, INT32* result);

}  // extern "C"

#include "platform/handle.h"

namespace platform {

struct HStringTraits {
    using Type = HSTRING;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type string) noexcept { WindowsDeleteString(string); }
};

// An owned HSTRING handle, deleted on every path.
using UniqueHString = UniqueHandle<HStringTraits>;

}  // namespace platform
