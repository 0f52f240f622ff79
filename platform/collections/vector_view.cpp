#include "vector_view.h"

namespace platform::collections {

// ---- VectorIterator ----

VectorIterator::VectorIterator(ModuleCounter& module, VectorSnapshot snapshot)
    : RuntimeObject(module), snapshot_(std::move(snapshot)) {}

HRESULT VectorIterator::get_Current(HSTRING* current) {
    if (current == nullptr) return E_POINTER;
    *current = nullptr;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    if (position_ >= snapshot_.state->Size()) return E_BOUNDS;
    return WindowsDuplicateString(snapshot_.state->items[position_].get(), current);
}

HRESULT VectorIterator::get_HasCurrent(boolean* hasCurrent) {
    if (hasCurrent == nullptr) return E_POINTER;
    *hasCurrent = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    *hasCurrent = position_ < snapshot_.state->Size() ? 1 : 0;
    return S_OK;
}

HRESULT VectorIterator::MoveNext(boolean* hasCurrent) {
    if (hasCurrent == nullptr) return E_POINTER;
    *hasCurrent = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    UINT32 size = snapshot_.state->Size();
    if (position_ < size) ++position_;
    *hasCurrent = position_ < size ? 1 : 0;
    return S_OK;
}

HRESULT VectorIterator::GetMany(UINT32 capacity, HSTRING* items, UINT32* actual) {
    if (actual == nullptr || (items == nullptr && capacity > 0)) return E_POINTER;
    *actual = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    HRESULT hr = snapshot_.state->GetMany(position_, capacity, items, actual);
    if (SUCCEEDED(hr)) position_ += *actual;
    return hr;
}

// ---- VectorView ----

VectorView::VectorView(ModuleCounter& module, VectorSnapshot snapshot)
    : RuntimeObject(module), snapshot_(std::move(snapshot)) {}

HRESULT VectorView::GetAt(UINT32 index, HSTRING* item) {
    if (item == nullptr) return E_POINTER;
    *item = nullptr;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    if (index >= snapshot_.state->Size()) return E_BOUNDS;
    return WindowsDuplicateString(snapshot_.state->items[index].get(), item);
}

HRESULT VectorView::get_Size(UINT32* size) {
    if (size == nullptr) return E_POINTER;
    *size = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    *size = snapshot_.state->Size();
    return S_OK;
}

HRESULT VectorView::IndexOf(HSTRING value, UINT32* index, boolean* found) {
    if (index == nullptr || found == nullptr) return E_POINTER;
    *index = 0;
    *found = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    *found = snapshot_.state->IndexOf(value, index) ? 1 : 0;
    return S_OK;
}

HRESULT VectorView::GetMany(UINT32 startIndex, UINT32 capacity, HSTRING* items, UINT32* actual) {
    if (actual == nullptr || (items == nullptr && capacity > 0)) return E_POINTER;
    *actual = 0;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    return snapshot_.state->GetMany(startIndex, capacity, items, actual);
}

HRESULT VectorView::First(IIterator_String** first) {
    if (first == nullptr) return E_POINTER;
    *first = nullptr;
    if (snapshot_.Stale()) return E_CHANGED_STATE;
    return Guard([&] {
        *first = MakeObject<VectorIterator>(Module(), snapshot_).detach();
        return S_OK;
    });
}

}  // namespace platform::collections
