// Read-only objects taken from a string map: its views, their iterators and
// the key/value pairs those hand out. Views and iterators read the map's
// shared contents; once the map changes they answer E_CHANGED_STATE. Pairs
// hold their own copies and stay valid.
#pragma once

#include "map_state.h"
#include "platform/collections.h"
#include "platform/object.h"

namespace platform::collections {

class KeyValuePair final : public RuntimeObject<KeyValuePair, IKeyValuePair_String_String> {
public:
    static constexpr const char16_t* kRuntimeClassName =
        u"Windows.Foundation.Collections.IKeyValuePair`2<String, String>";

    // Throws OutOfMemoryException.
    KeyValuePair(ModuleCounter& module, const MapEntry& entry);

    HRESULT get_Key(HSTRING* key) override;
    HRESULT get_Value(HSTRING* value) override;

private:
    UniqueHString key_;
    UniqueHString value_;
};

// Walks the entries of a range in key order.
class MapIterator final : public RuntimeObject<MapIterator, IIterator_KeyValuePair_String_String> {
public:
    static constexpr const char16_t* kRuntimeClassName =
        u"Windows.Foundation.Collections.IIterator`1<Windows.Foundation.Collections.IKeyValuePair`2<String, "
        u"String>>";

    MapIterator(ModuleCounter& module, MapRange range);

    // E_BOUNDS past the last entry.
    HRESULT get_Current(IKeyValuePair_String_String** current) override;
    HRESULT get_HasCurrent(boolean* hasCurrent) override;
    // Stays at the end once there; *hasCurrent false then.
    HRESULT MoveNext(boolean* hasCurrent) override;
    // Up to `capacity` pairs from the current one on, each a reference the
    // caller releases; moves past them.
    HRESULT GetMany(UINT32 capacity, IKeyValuePair_String_String** items, UINT32* actual) override;

private:
    MapRange range_;
    size_t position_;
};

class MapView final : public RuntimeObject<MapView, IMapView_String_String, IIterable_KeyValuePair_String_String> {
public:
    static constexpr const char16_t* kRuntimeClassName =
        u"Windows.Foundation.Collections.IMapView`2<String, String>";

    MapView(ModuleCounter& module, MapRange range);

    // E_BOUNDS when the key is not in the view.
    HRESULT Lookup(HSTRING key, HSTRING* value) override;
    HRESULT get_Size(UINT32* size) override;
    HRESULT HasKey(HSTRING key, boolean* found) override;
    // Two views over the lower and the upper half of this one's entries (the
    // first one the smaller for an odd size); both null below two entries.
    HRESULT Split(IMapView_String_String** first, IMapView_String_String** second) override;
    HRESULT First(IIterator_KeyValuePair_String_String** first) override;

private:
    MapRange range_;
};

}  // namespace platform::collections
