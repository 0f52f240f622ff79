// Helpers for the collection tests: owned strings from literals, reading
// strings back, and handlers that record the change events they receive.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/collections.h"
#include "platform/winstring.h"

namespace collections_test {

inline platform::UniqueHString Make(std::u16string_view text) {
    platform::UniqueHString string;
    EXPECT_EQ(WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), string.put()), S_OK);
    return string;
}

// Takes over a string handed out by the collection and gives its units.
inline std::u16string Take(HSTRING string) {
    platform::UniqueHString owned(string);
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(owned.get(), &length);
    return std::u16string(units, length);
}

// A delegate with a plain reference count; Invoke hands the sender and the
// arguments to `OnInvoke` and answers `result`.
template <typename Interface, typename Sender, typename Args>
class Recorder : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IUnknown::IID_ || riid == Interface::IID_) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) delete this;
        return remaining;
    }
    HRESULT Invoke(Sender* sender, Args* args) override {
        senders.push_back(sender);
        OnInvoke(args);
        return result;
    }

    std::vector<Sender*> senders;
    HRESULT result = S_OK;

protected:
    virtual void OnInvoke(Args* args) = 0;
    virtual ~Recorder() = default;

private:
    std::atomic<ULONG> references_{1};
};

struct MapChange {
    CollectionChange change;
    std::u16string key;
    bool operator==(const MapChange&) const = default;
};

class MapRecorder final
    : public Recorder<MapChangedEventHandler_String_String, IObservableMap_String_String, IMapChangedEventArgs_String> {
public:
    std::vector<MapChange> changes;

protected:
    void OnInvoke(IMapChangedEventArgs_String* args) override {
        MapChange change{};
        EXPECT_EQ(args->get_CollectionChange(&change.change), S_OK);
        HSTRING key = nullptr;
        EXPECT_EQ(args->get_Key(&key), S_OK);
        change.key = Take(key);
        changes.push_back(change);
    }
};

struct VectorChange {
    CollectionChange change;
    UINT32 index;
    bool operator==(const VectorChange&) const = default;
};

class VectorRecorder final
    : public Recorder<VectorChangedEventHandler_String, IObservableVector_String, IVectorChangedEventArgs> {
public:
    std::vector<VectorChange> changes;

protected:
    void OnInvoke(IVectorChangedEventArgs* args) override {
        VectorChange change{};
        EXPECT_EQ(args->get_CollectionChange(&change.change), S_OK);
        EXPECT_EQ(args->get_Index(&change.index), S_OK);
        changes.push_back(change);
    }
};

}  // namespace collections_test
