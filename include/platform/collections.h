// The runtime's collection interfaces instantiated for String, as ABI structs
// in the platform's slot order (after the six IUnknown/IInspectable slots),
// each with the identity the runtime derives for that instance, and factory
// functions for the ordered string map and the string vector that implement
// them.
#pragma once

#include "platform/abi.h"
#include "platform/comptr.h"

// Kind of change a collection reports to its change handlers.
enum CollectionChange : int32_t {
    Reset = 0,
    ItemInserted = 1,
    ItemRemoved = 2,
    ItemChanged = 3,
};

// ---- Map<String, String> ------------------------------------------------

// One key/value pair; both strings are new references the caller deletes.
struct IKeyValuePair_String_String : IInspectable {
    static constexpr IID IID_{0x60310303, 0x49C5, 0x52E6, {0xAB, 0xC6, 0xA9, 0xB3, 0x6E, 0xCC, 0xC7, 0x16}};
    virtual HRESULT get_Key(HSTRING* key) = 0;
    virtual HRESULT get_Value(HSTRING* value) = 0;
};

struct IIterator_KeyValuePair_String_String : IInspectable {
    static constexpr IID IID_{0x05EB86F1, 0x7140, 0x5517, {0xB8, 0x8D, 0xCB, 0xAE, 0xBE, 0x57, 0xE6, 0xB1}};
    virtual HRESULT get_Current(IKeyValuePair_String_String** current) = 0;
    virtual HRESULT get_HasCurrent(boolean* hasCurrent) = 0;
    virtual HRESULT MoveNext(boolean* hasCurrent) = 0;
    virtual HRESULT GetMany(UINT32 capacity, IKeyValuePair_String_String** items, UINT32* actual) = 0;
};

struct IIterable_KeyValuePair_String_String : IInspectable {
    static constexpr IID IID_{0xE9BDAAF0, 0xCBF6, 0x5C72, {0xBE, 0x90, 0x29, 0xCB, 0xF3, 0xA1, 0x31, 0x9B}};
    virtual HRESULT First(IIterator_KeyValuePair_String_String** first) = 0;
};

struct IMapView_String_String : IInspectable {
    static constexpr IID IID_{0xAC7F26F2, 0xFEB7, 0x5B2A, {0x8A, 0xC4, 0x34, 0x5B, 0xC6, 0x2C, 0xAE, 0xDE}};
    virtual HRESULT Lookup(HSTRING key, HSTRING* value) = 0;
    virtual HRESULT get_Size(UINT32* size) = 0;
    virtual HRESULT HasKey(HSTRING key, boolean* found) = 0;
    virtual HRESULT Split(IMapView_String_String** first, IMapView_String_String** second) = 0;
};

struct IMap_String_String : IInspectable {
    static constexpr IID IID_{0xF6D1F700, 0x49C2, 0x52AE, {0x81, 0x54, 0x82, 0x6F, 0x99, 0x08, 0x77, 0x3C}};
    virtual HRESULT Lookup(HSTRING key, HSTRING* value) = 0;
    virtual HRESULT get_Size(UINT32* size) = 0;
    virtual HRESULT HasKey(HSTRING key, boolean* found) = 0;
    virtual HRESULT GetView(IMapView_String_String** view) = 0;
    virtual HRESULT Insert(HSTRING key, HSTRING value, boolean* replaced) = 0;
    virtual HRESULT Remove(HSTRING key) = 0;
    virtual HRESULT Clear() = 0;
};

struct IMapChangedEventArgs_String : IInspectable {
    static constexpr IID IID_{0x60141EFB, 0xF2F9, 0x5377, {0x96, 0xFD, 0xF8, 0xC6, 0x0D, 0x95, 0x58, 0xB5}};
    virtual HRESULT get_CollectionChange(CollectionChange* change) = 0;
    virtual HRESULT get_Key(HSTRING* key) = 0;
};

struct IObservableMap_String_String;

// A delegate: IUnknown plus one Invoke.
struct MapChangedEventHandler_String_String : IUnknown {
    static constexpr IID IID_{0xE2663F37, 0x2E1B, 0x500C, {0xAD, 0x68, 0xC3, 0xED, 0x7A, 0x8F, 0x74, 0xC8}};
    virtual HRESULT Invoke(IObservableMap_String_String* sender, IMapChangedEventArgs_String* event) = 0;
};

struct IObservableMap_String_String : IInspectable {
    static constexpr IID IID_{0x1E036276, 0x2F60, 0x55F6, {0xB7, 0xF3, 0xF8, 0x60, 0x79, 0xE6, 0x90, 0x0B}};
    virtual HRESULT add_MapChanged(MapChangedEventHandler_String_String* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT remove_MapChanged(EventRegistrationToken token) = 0;
};

// ---- Vector<String> -----------------------------------------------------

struct IIterator_String : IInspectable {
    static constexpr IID IID_{0x8C304EBB, 0x6615, 0x50A4, {0x88, 0x29, 0x87, 0x9E, 0xCD, 0x44, 0x32, 0x36}};
    virtual HRESULT get_Current(HSTRING* current) = 0;
    virtual HRESULT get_HasCurrent(boolean* hasCurrent) = 0;
    virtual HRESULT MoveNext(boolean* hasCurrent) = 0;
    virtual HRESULT GetMany(UINT32 capacity, HSTRING* items, UINT32* actual) = 0;
};

struct IIterable_String : IInspectable {
    static constexpr IID IID_{0xE2FCC7C1, 0x3BFC, 0x5A0B, {0xB2, 0xB0, 0x72, 0xE7, 0x69, 0xD1, 0xCB, 0x7E}};
    virtual HRESULT First(IIterator_String** first) = 0;
};

struct IVectorView_String : IInspectable {
    static constexpr IID IID_{0x2F13C006, 0xA03A, 0x5F69, {0xB0, 0x90, 0x75, 0xA4, 0x3E, 0x33, 0x42, 0x3E}};
    virtual HRESULT GetAt(UINT32 index, HSTRING* item) = 0;
    virtual HRESULT get_Size(UINT32* size) = 0;
    virtual HRESULT IndexOf(HSTRING value, UINT32* index, boolean* found) = 0;
    virtual HRESULT GetMany(UINT32 startIndex, UINT32 capacity, HSTRING* items, UINT32* actual) = 0;
};

struct IVector_String : IInspectable {
    static constexpr IID IID_{0x98B9ACC1, 0x4B56, 0x532E, {0xAC, 0x73, 0x03, 0xD5, 0x29, 0x1C, 0xCA, 0x90}};
    virtual HRESULT GetAt(UINT32 index, HSTRING* item) = 0;
    virtual HRESULT get_Size(UINT32* size) = 0;
    virtual HRESULT GetView(IVectorView_String** view) = 0;
    virtual HRESULT IndexOf(HSTRING value, UINT32* index, boolean* found) = 0;
    virtual HRESULT SetAt(UINT32 index, HSTRING item) = 0;
    virtual HRESULT InsertAt(UINT32 index, HSTRING item) = 0;
    virtual HRESULT RemoveAt(UINT32 index) = 0;
    virtual HRESULT Append(HSTRING item) = 0;
    virtual HRESULT RemoveAtEnd() = 0;
    virtual HRESULT Clear() = 0;
    virtual HRESULT GetMany(UINT32 startIndex, UINT32 capacity, HSTRING* items, UINT32* actual) = 0;
    virtual HRESULT ReplaceAll(UINT32 count, HSTRING* items) = 0;
};

// Not parameterized: the same interface for every element type.
struct IVectorChangedEventArgs : IInspectable {
    static constexpr IID IID_{0x575933DF, 0x34FE, 0x4480, {0xAF, 0x15, 0x07, 0x69, 0x1F, 0x3D, 0x5D, 0x9B}};
    virtual HRESULT get_CollectionChange(CollectionChange* change) = 0;
    virtual HRESULT get_Index(UINT32* index) = 0;
};

struct IObservableVector_String;

struct VectorChangedEventHandler_String : IUnknown {
    static constexpr IID IID_{0xCB6C396F, 0x4861, 0x5296, {0xB1, 0x4B, 0xBD, 0x90, 0xB9, 0x41, 0xA3, 0xE0}};
    virtual HRESULT Invoke(IObservableVector_String* sender, IVectorChangedEventArgs* event) = 0;
};

struct IObservableVector_String : IInspectable {
    static constexpr IID IID_{0x37500595, 0xDCF0, 0x5D27, {0xB8, 0xC4, 0xCF, 0x38, 0x8E, 0x37, 0x4D, 0xE8}};
    virtual HRESULT add_VectorChanged(VectorChangedEventHandler_String* handler, EventRegistrationToken* token) = 0;
    virtual HRESULT remove_VectorChanged(EventRegistrationToken token) = 0;
};

// ---- Factories ------------------------------------------------------------

namespace platform {

class ModuleCounter;

// A new, empty ordered map of strings with one reference for the caller.
// The map and everything it hands out (views, iterators, pairs, change
// arguments) count as live objects of `module`, which must outlive them.
// Throws OutOfMemoryException when memory is exhausted.
ComPtr<IMap_String_String> MakeStringMap(ModuleCounter& module);

// A new, empty vector of strings with one reference for the caller; counted
// and failing like MakeStringMap.
ComPtr<IVector_String> MakeStringVector(ModuleCounter& module);

}  // namespace platform
