// The ordered map of strings: keys ascending in ordinal order of their UTF-16
// units, each once; views and iterators share its contents and go stale at
// its next change; a change event reports each change after it is made.
#include <memory>

#include "change_handlers.h"
#include "changed_args.h"
#include "map_view.h"
#include "platform/collections.h"

namespace platform::collections {
namespace {

class StringMap final : public RuntimeObject<StringMap, IMap_String_String, IIterable_KeyValuePair_String_String,
                                             IObservableMap_String_String> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Windows.Foundation.Collections.IMap`2<String, String>";

    explicit StringMap(ModuleCounter& module) : RuntimeObject(module), state_(std::make_shared<MapState>()) {}

    HRESULT Lookup(HSTRING key, HSTRING* value) override {
        if (value == nullptr) return E_POINTER;
        *value = nullptr;
        const MapEntry* entry = state_->Find(key, 0, Size());
        if (entry == nullptr) return E_BOUNDS;
        return WindowsDuplicateString(entry->value.get(), value);
    }

    HRESULT get_Size(UINT32* size) override {
        if (size == nullptr) return E_POINTER;
        *size = static_cast<UINT32>(Size());
        return S_OK;
    }

    HRESULT HasKey(HSTRING key, boolean* found) override {
        if (found == nullptr) return E_POINTER;
        *found = state_->Find(key, 0, Size()) != nullptr ? 1 : 0;
        return S_OK;
    }

    HRESULT GetView(IMapView_String_String** view) override {
        if (view == nullptr) return E_POINTER;
        *view = nullptr;
        return Guard([&] {
            *view = MakeObject<MapView>(Module(), WholeRange()).detach();
            return S_OK;
        });
    }

    // Replaces the value of an existing key (ItemChanged) or adds the key in
    // its place (ItemInserted). The map keeps its own copies of both strings.
    HRESULT Insert(HSTRING key, HSTRING value, boolean* replaced) override {
        if (replaced == nullptr) return E_POINTER;
        *replaced = 0;
        return Guard([&] {
            UniqueHString valueCopy = Duplicate(value);
            size_t index = state_->LowerBound(key, 0, Size());
            auto& entries = state_->entries;
            bool exists = index < entries.size() && OrdinalEqual(entries[index].key.get(), key);
            if (exists) {
                entries[index].value = std::move(valueCopy);
            } else {
                UniqueHString keyCopy = Duplicate(key);
                entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(index),
                               MapEntry{std::move(keyCopy), std::move(valueCopy)});
            }
            *replaced = exists ? 1 : 0;
            return Changed(exists ? ItemChanged : ItemInserted, key);
        });
    }

    // E_BOUNDS, and no change, when the key is not in the map.
    HRESULT Remove(HSTRING key) override {
        size_t index = state_->LowerBound(key, 0, Size());
        auto& entries = state_->entries;
        if (index == entries.size() || !OrdinalEqual(entries[index].key.get(), key)) return E_BOUNDS;
        return Guard([&] {
            // The event reports the key after the entry (and its copy of the
            // key) has gone, so it keeps a copy of its own.
            UniqueHString removed = std::move(entries[index].key);
            entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
            return Changed(ItemRemoved, removed.get());
        });
    }

    HRESULT Clear() override {
        state_->entries.clear();
        return Guard([&] { return Changed(Reset, nullptr); });
    }

    HRESULT First(IIterator_KeyValuePair_String_String** first) override {
        if (first == nullptr) return E_POINTER;
        *first = nullptr;
        return Guard([&] {
            *first = MakeObject<MapIterator>(Module(), WholeRange()).detach();
            return S_OK;
        });
    }

    HRESULT add_MapChanged(MapChangedEventHandler_String_String* handler, EventRegistrationToken* token) override {
        return Guard([&] { return handlers_.Add(handler, token); });
    }

    HRESULT remove_MapChanged(EventRegistrationToken token) override { return handlers_.Remove(token); }

private:
    size_t Size() const noexcept { return state_->entries.size(); }
    MapRange WholeRange() const { return MapRange{state_, state_->version, 0, Size()}; }

    // Marks every view and iterator stale, then tells the handlers. Gives the
    // status of the first handler that fails; the change stays made.
    HRESULT Changed(CollectionChange change, HSTRING key) {
        ++state_->version;
        if (handlers_.Empty()) return S_OK;
        auto args = MakeObject<MapChangedEventArgs>(Module(), change, key);
        return handlers_.Raise(this, args.get());
    }

    std::shared_ptr<MapState> state_;
    ChangeHandlers<MapChangedEventHandler_String_String, IObservableMap_String_String, IMapChangedEventArgs_String>
        handlers_;
};

}  // namespace
}  // namespace platform::collections

namespace platform {

ComPtr<IMap_String_String> MakeStringMap(ModuleCounter& module) {
    return ComPtr<IMap_String_String>::Attach(MakeObject<collections::StringMap>(module).detach());
}

}  // namespace platform
