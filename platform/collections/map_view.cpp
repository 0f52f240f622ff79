#include "map_view.h"

#include <vector>

namespace platform::collections {

// ---- KeyValuePair ----

KeyValuePair::KeyValuePair(ModuleCounter& module, const MapEntry& entry)
    : RuntimeObject(module), key_(Duplicate(entry.key.get())), value_(Duplicate(entry.value.get())) {}

HRESULT KeyValuePair::get_Key(HSTRING* key) {
    if (key == nullptr) return E_POINTER;
    return WindowsDuplicateString(key_.get(), key);
}

HRESULT KeyValuePair::get_Value(HSTRING* value) {
    if (value == nullptr) return E_POINTER;
    return WindowsDuplicateString(value_.get(), value);
}

// ---- MapIterator ----

MapIterator::MapIterator(ModuleCounter& module, MapRange range)
    : RuntimeObject(module), range_(std::move(range)), position_(range_.first) {}

HRESULT MapIterator::get_Current(IKeyValuePair_String_String** current) {
    if (current == nullptr) return E_POINTER;
    *current = nullptr;
    if (range_.Stale()) return E_CHANGED_STATE;
    if (position_ >= range_.last) return E_BOUNDS;
    return Guard([&] {
        *current = MakeObject<KeyValuePair>(Module(), range_.state->entries[position_]).detach();
        return S_OK;
    });
}

HRESULT MapIterator::get_HasCurrent(boolean* hasCurrent) {
    if (hasCurrent == nullptr) return E_POINTER;
    *hasCurrent = 0;
    if (range_.Stale()) return E_CHANGED_STATE;
    *hasCurrent = position_ < range_.last ? 1 : 0;
    return S_OK;
}

HRESULT MapIterator::MoveNext(boolean* hasCurrent) {
    if (hasCurrent == nullptr) return E_POINTER;
    *hasCurrent = 0;
    if (range_.Stale()) return E_CHANGED_STATE;
    if (position_ < range_.last) ++position_;
    *hasCurrent = position_ < range_.last ? 1 : 0;
    return S_OK;
}

HRESULT MapIterator::GetMany(UINT32 capacity, IKeyValuePair_String_String** items, UINT32* actual) {
    if (actual == nullptr || (items == nullptr && capacity > 0)) return E_POINTER;
    *actual = 0;
    if (range_.Stale()) return E_CHANGED_STATE;
    return Guard([&] {
        size_t count = std::min<size_t>(capacity, range_.last - position_);
        std::vector<ComPtr<KeyValuePair>> pairs;
        pairs.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            pairs.push_back(MakeObject<KeyValuePair>(Module(), range_.state->entries[position_ + i]));
        }
        for (size_t i = 0; i < count; ++i) items[i] = pairs[i].detach();
        position_ += count;
        *actual = static_cast<UINT32>(count);
        return S_OK;
    });
}

// ---- MapView ----

MapView::MapView(ModuleCounter& module, MapRange range) : RuntimeObject(module), range_(std::move(range)) {}

HRESULT MapView::Lookup(HSTRING key, HSTRING* value) {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    if (range_.Stale()) return E_CHANGED_STATE;
    const MapEntry* entry = range_.state->Find(key, range_.first, range_.last);
    if (entry == nullptr) return E_BOUNDS;
    return WindowsDuplicateString(entry->value.get(), value);
}

HRESULT MapView::get_Size(UINT32* size) {
    if (size == nullptr) return E_POINTER;
    *size = 0;
    if (range_.Stale()) return E_CHANGED_STATE;
    *size = static_cast<UINT32>(range_.last - range_.first);
    return S_OK;
}

HRESULT MapView::HasKey(HSTRING key, boolean* found) {
    if (found == nullptr) return E_POINTER;
    *found = 0;
    if (range_.Stale()) return E_CHANGED_STATE;
    *found = range_.state->Find(key, range_.first, range_.last) != nullptr ? 1 : 0;
    return S_OK;
}

HRESULT MapView::Split(IMapView_String_String** first, IMapView_String_String** second) {
    if (first == nullptr || second == nullptr) return E_POINTER;
    *first = nullptr;
    *second = nullptr;
    if (range_.Stale()) return E_CHANGED_STATE;
    size_t size = range_.last - range_.first;
    if (size < 2) return S_OK;
    size_t middle = range_.first + size / 2;
    return Guard([&] {
        auto lower = MakeObject<MapView>(Module(), MapRange{range_.state, range_.version, range_.first, middle});
        auto upper = MakeObject<MapView>(Module(), MapRange{range_.state, range_.version, middle, range_.last});
        *first = lower.detach();
        *second = upper.detach();
        return S_OK;
    });
}

HRESULT MapView::First(IIterator_KeyValuePair_String_String** first) {
    if (first == nullptr) return E_POINTER;
    *first = nullptr;
    if (range_.Stale()) return E_CHANGED_STATE;
    return Guard([&] {
        *first = MakeObject<MapIterator>(Module(), range_).detach();
        return S_OK;
    });
}

}  // namespace platform::collections
