// The vector of strings, in the order it was filled; views and iterators
// share its contents and go stale at its next change; a change event reports
// each change, with its index, after it is made.
#include <memory>

#include "change_handlers.h"
#include "changed_args.h"
#include "platform/collections.h"
#include "vector_view.h"

namespace platform::collections {
namespace {

class StringVector final
    : public RuntimeObject<StringVector, IVector_String, IIterable_String, IObservableVector_String> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Windows.Foundation.Collections.IVector`1<String>";

    explicit StringVector(ModuleCounter& module) : RuntimeObject(module), state_(std::make_shared<VectorState>()) {}

    // E_BOUNDS for an index at or past the size.
    HRESULT GetAt(UINT32 index, HSTRING* item) override {
        if (item == nullptr) return E_POINTER;
        *item = nullptr;
        if (index >= state_->Size()) return E_BOUNDS;
        return WindowsDuplicateString(Items()[index].get(), item);
    }

    HRESULT get_Size(UINT32* size) override {
        if (size == nullptr) return E_POINTER;
        *size = state_->Size();
        return S_OK;
    }

    HRESULT GetView(IVectorView_String** view) override {
        if (view == nullptr) return E_POINTER;
        *view = nullptr;
        return Guard([&] {
            *view = MakeObject<VectorView>(Module(), Snapshot()).detach();
            return S_OK;
        });
    }

    HRESULT IndexOf(HSTRING value, UINT32* index, boolean* found) override {
        if (index == nullptr || found == nullptr) return E_POINTER;
        *found = state_->IndexOf(value, index) ? 1 : 0;
        return S_OK;
    }

    HRESULT SetAt(UINT32 index, HSTRING item) override {
        if (index >= state_->Size()) return E_BOUNDS;
        return Guard([&] {
            Items()[index] = Duplicate(item);
            return Changed(ItemChanged, index);
        });
    }

    // index == size appends.
    HRESULT InsertAt(UINT32 index, HSTRING item) override {
        if (index > state_->Size()) return E_BOUNDS;
        return Guard([&] {
            UniqueHString copy = Duplicate(item);
            Items().insert(Items().begin() + index, std::move(copy));
            return Changed(ItemInserted, index);
        });
    }

    HRESULT RemoveAt(UINT32 index) override {
        if (index >= state_->Size()) return E_BOUNDS;
        Items().erase(Items().begin() + index);
        return Guard([&] { return Changed(ItemRemoved, index); });
    }

    HRESULT Append(HSTRING item) override { return InsertAt(state_->Size(), item); }

    // E_BOUNDS on an empty vector.
    HRESULT RemoveAtEnd() override {
        if (state_->Size() == 0) return E_BOUNDS;
        return RemoveAt(state_->Size() - 1);
    }

    HRESULT Clear() override {
        Items().clear();
        return Guard([&] { return Changed(Reset, 0); });
    }

    HRESULT GetMany(UINT32 startIndex, UINT32 capacity, HSTRING* items, UINT32* actual) override {
        if (actual == nullptr || (items == nullptr && capacity > 0)) return E_POINTER;
        *actual = 0;
        return state_->GetMany(startIndex, capacity, items, actual);
    }

    // Copies all `count` strings first, so a failure leaves the vector as it was.
    HRESULT ReplaceAll(UINT32 count, HSTRING* items) override {
        if (items == nullptr && count > 0) return E_POINTER;
        return Guard([&] {
            std::vector<UniqueHString> copies;
            copies.reserve(count);
            for (UINT32 i = 0; i < count; ++i) copies.push_back(Duplicate(items[i]));
            Items().swap(copies);
            return Changed(Reset, 0);
        });
    }

    HRESULT First(IIterator_String** first) override {
        if (first == nullptr) return E_POINTER;
        *first = nullptr;
        return Guard([&] {
            *first = MakeObject<VectorIterator>(Module(), Snapshot()).detach();
            return S_OK;
        });
    }

    HRESULT add_VectorChanged(VectorChangedEventHandler_String* handler, EventRegistrationToken* token) override {
        return Guard([&] { return handlers_.Add(handler, token); });
    }

    HRESULT remove_VectorChanged(EventRegistrationToken token) override { return handlers_.Remove(token); }

private:
    std::vector<UniqueHString>& Items() noexcept { return state_->items; }
    VectorSnapshot Snapshot() const { return VectorSnapshot{state_, state_->version}; }

    // Marks every view and iterator stale, then tells the handlers. Gives the
    // status of the first handler that fails; the change stays made.
    HRESULT Changed(CollectionChange change, UINT32 index) {
        ++state_->version;
        if (handlers_.Empty()) return S_OK;
        auto args = MakeObject<VectorChangedEventArgs>(Module(), change, index);
        return handlers_.Raise(this, args.get());
    }

    std::shared_ptr<VectorState> state_;
    ChangeHandlers<VectorChangedEventHandler_String, IObservableVector_String, IVectorChangedEventArgs> handlers_;
};

}  // namespace
}  // namespace platform::collections

namespace platform {

ComPtr<IVector_String> MakeStringVector(ModuleCounter& module) {
    return ComPtr<IVector_String>::Attach(MakeObject<collections::StringVector>(module).detach());
}

}  // namespace platform
