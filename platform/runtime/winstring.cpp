// HSTRING handles. Both kinds start with the same record, so one handle type
// serves both; a heap string keeps its count and units right after it.
#include "platform/winstring.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

constexpr UINT32 kReferenceFlag = 1;

struct StringRecord {
    UINT32 flags;
    UINT32 length;
    UINT32 reserved1;
    UINT32 reserved2;
    const WCHAR* units;
};
static_assert(sizeof(StringRecord) <= sizeof(HSTRING_HEADER));

struct HeapString {
    StringRecord record;
    std::atomic<UINT32> references;
    WCHAR units[1];  // length + 1 units are allocated
};

const WCHAR kEmpty[1] = {0};

StringRecord* RecordOf(HSTRING string) { return reinterpret_cast<StringRecord*>(string); }

bool IsReference(HSTRING string) { return (RecordOf(string)->flags & kReferenceFlag) != 0; }

HeapString* HeapOf(HSTRING string) { return reinterpret_cast<HeapString*>(string); }

HRESULT AllocateCopy(const WCHAR* source, UINT32 length, HSTRING* string) {
    size_t bytes = offsetof(HeapString, units) + (static_cast<size_t>(length) + 1) * sizeof(WCHAR);
    void* memory = std::malloc(bytes);
    if (memory == nullptr) return E_OUTOFMEMORY;
    auto* heap = new (memory) HeapString{{0, length, 0, 0, nullptr}, {1}, {0}};
    std::memcpy(heap->units, source, static_cast<size_t>(length) * sizeof(WCHAR));
    heap->units[length] = 0;
    heap->record.units = heap->units;
    *string = reinterpret_cast<HSTRING>(heap);
    return S_OK;
}

}  // namespace

extern "C" {

HRESULT WindowsCreateString(const WCHAR* source, UINT32 length, HSTRING* string) {
    if (string == nullptr) return E_INVALIDARG;
    *string = nullptr;
    if (length == 0) return S_OK;
    if (source == nullptr) return E_POINTER;
    return AllocateCopy(source, length, string);
}

HRESULT WindowsCreateStringReference(const WCHAR* source, UINT32 length, HSTRING_HEADER* header,
                                     HSTRING* string) {
    if (header == nullptr || string == nullptr) return E_INVALIDARG;
    *string = nullptr;
    if (source == nullptr) return length == 0 ? S_OK : E_POINTER;
    if (source[length] != 0) return E_STRING_NOT_NULL_TERMINATED;
    if (length == 0) return S_OK;
    auto* record = new (header) StringRecord{kReferenceFlag, length, 0, 0, source};
    *string = reinterpret_cast<HSTRING>(record);
    return S_OK;
}

HRESULT WindowsDeleteString(HSTRING string) {
    if (string == nullptr || IsReference(string)) return S_OK;
    HeapString* heap = HeapOf(string);
    // Acquire-release on the count: every use of the units by other holders
    // happens before the memory goes back. (A decrement with release order and
    // an acquire fence would do, but ThreadSanitizer cannot see fences.)
    if (heap->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        heap->~HeapString();
        std::free(heap);
    }
    return S_OK;
}

HRESULT WindowsDuplicateString(HSTRING string, HSTRING* newString) {
    if (newString == nullptr) return E_INVALIDARG;
    *newString = nullptr;
    if (string == nullptr) return S_OK;
    if (IsReference(string)) return AllocateCopy(RecordOf(string)->units, RecordOf(string)->length, newString);
    HeapOf(string)->references.fetch_add(1, std::memory_order_relaxed);
    *newString = string;
    return S_OK;
}

const WCHAR* WindowsGetStringRawBuffer(HSTRING string, UINT32* length) {
    if (string == nullptr) {
        if (length != nullptr) *length = 0;
        return kEmpty;
    }
    if (length != nullptr) *length = RecordOf(string)->length;
    return RecordOf(string)->units;
}

UINT32 WindowsGetStringLen(HSTRING string) { return string == nullptr ? 0 : RecordOf(string)->length; }

BOOL WindowsIsStringEmpty(HSTRING string) { return WindowsGetStringLen(string) == 0 ? 1 : 0; }

HRESULT WindowsStringHasEmbeddedNull(HSTRING string, BOOL* hasEmbedNull) {
    if (hasEmbedNull == nullptr) return E_INVALIDARG;
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    *hasEmbedNull = 0;
    for (UINT32 i = 0; i < length; ++i) {
        if (units[i] == 0) {
            *hasEmbedNull = 1;
            break;
        }
    }
    return S_OK;
}

HRESULT WindowsCompareStringOrdinal(HSTRING string1, HSTRING string2, INT32* result) {
    if (result == nullptr) return E_INVALIDARG;
    UINT32 length1 = 0;
    UINT32 length2 = 0;
    const WCHAR* units1 = WindowsGetStringRawBuffer(string1, &length1);
    const WCHAR* units2 = WindowsGetStringRawBuffer(string2, &length2);
    UINT32 common = length1 < length2 ? length1 : length2;
    for (UINT32 i = 0; i < common; ++i) {
        if (units1[i] != units2[i]) {
            *result = units1[i] < units2[i] ? -1 : 1;
            return S_OK;
        }
    }
    *result = length1 == length2 ? 0 : (length1 < length2 ? -1 : 1);
    return S_OK;
}

}  // extern "C"
