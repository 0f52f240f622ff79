// Read-only objects taken from a string vector: its views and iterators.
// Both read the vector's shared contents and answer E_CHANGED_STATE once the
// vector has changed.
#pragma once

#include "platform/collections.h"
#include "platform/object.h"
#include "vector_state.h"

namespace platform::collections {

class VectorIterator final : public RuntimeObject<VectorIterator, IIterator_String> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Windows.Foundation.Collections.IIterator`1<String>";

    VectorIterator(ModuleCounter& module, VectorSnapshot snapshot);

    // E_BOUNDS past the last item.
    HRESULT get_Current(HSTRING* current) override;
    HRESULT get_HasCurrent(boolean* hasCurrent) override;
    // Stays at the end once there; *hasCurrent false then.
    HRESULT MoveNext(boolean* hasCurrent) override;
    // Up to `capacity` items from the current one on; moves past them.
    HRESULT GetMany(UINT32 capacity, HSTRING* items, UINT32* actual) override;

private:
    VectorSnapshot snapshot_;
    UINT32 position_ = 0;
};

class VectorView final : public RuntimeObject<VectorView, IVectorView_String, IIterable_String> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Windows.Foundation.Collections.IVectorView`1<String>";

    VectorView(ModuleCounter& module, VectorSnapshot snapshot);

    // E_BOUNDS for an index at or past the size.
    HRESULT GetAt(UINT32 index, HSTRING* item) override;
    HRESULT get_Size(UINT32* size) override;
    // *found false and *index 0 when no item equals `value`.
    HRESULT IndexOf(HSTRING value, UINT32* index, boolean* found) override;
    HRESULT GetMany(UINT32 startIndex, UINT32 capacity, HSTRING* items, UINT32* actual) override;
    HRESULT First(IIterator_String** first) override;

private:
    VectorSnapshot snapshot_;
};

}  // namespace platform::collections
