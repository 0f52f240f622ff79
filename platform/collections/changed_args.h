// The argument objects of the map's and the vector's change events.
#pragma once

#include "platform/collections.h"
#include "platform/object.h"
#include "strings.h"

namespace platform::collections {

// Which change happened and to which key (empty for Reset).
class MapChangedEventArgs final
    : public RuntimeObject<MapChangedEventArgs, IMapChangedEventArgs_String> {
public:
    static constexpr const char16_t* kRuntimeClassName =
        u"Windows.Foundation.Collections.IMapChangedEventArgs`1<String>";

    // Throws OutOfMemoryException.
    MapChangedEventArgs(ModuleCounter& module, CollectionChange change, HSTRING key)
        : RuntimeObject(module), change_(change), key_(Duplicate(key)) {}

    HRESULT get_CollectionChange(CollectionChange* change) override {
        if (change == nullptr) return E_POINTER;
        *change = change_;
        return S_OK;
    }
    HRESULT get_Key(HSTRING* key) override {
        if (key == nullptr) return E_POINTER;
        return WindowsDuplicateString(key_.get(), key);
    }

private:
    CollectionChange change_;
    UniqueHString key_;
};

// Which change happened at which index (0 for Reset).
class VectorChangedEventArgs final : public RuntimeObject<VectorChangedEventArgs, IVectorChangedEventArgs> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Windows.Foundation.Collections.IVectorChangedEventArgs";

    VectorChangedEventArgs(ModuleCounter& module, CollectionChange change, UINT32 index)
        : RuntimeObject(module), change_(change), index_(index) {}

    HRESULT get_CollectionChange(CollectionChange* change) override {
        if (change == nullptr) return E_POINTER;
        *change = change_;
        return S_OK;
    }
    HRESULT get_Index(UINT32* index) override {
        if (index == nullptr) return E_POINTER;
        *index = index_;
        return S_OK;
    }

private:
    CollectionChange change_;
    UINT32 index_;
};

}  // namespace platform::collections
