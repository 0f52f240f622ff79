// The base of every runtime object: one interface list drives both
// QueryInterface and GetIids, so they cannot disagree; the reference count
// lives in a separately allocated weak-reference record so that weak
// references can outlive the object; a free-threaded marshaler is aggregated
// at construction, which makes every object agile; and each object and each
// record counts as a live object of the module that made it.
#pragma once

#include <atomic>
#include <new>
#include <string>
#include <type_traits>

#include "platform/abi.h"
#include "platform/combase.h"
#include "platform/comptr.h"
#include "platform/errors.h"
#include "platform/winstring.h"

namespace platform {

// The live-object count of one loaded module: objects constructed and not yet
// freed, and weak-reference records still referenced.
class ModuleCounter {
public:
    void Increment() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
    void Decrement() noexcept { count_.fetch_sub(1, std::memory_order_release); }
    uint32_t Count() const noexcept { return count_.load(std::memory_order_acquire); }

private:
    std::atomic<uint32_t> count_{0};
};

// Holds an object's reference count (strong) and its own count (one for the
// object, one per weak reference handed out). Resolve raises the strong count
// only while it is above zero, so a dead object is never revived.
class WeakReferenceRecord final : public IWeakReference {
public:
    WeakReferenceRecord(IUnknown* object, ModuleCounter& module) noexcept : object_(object), module_(module) {
        module_.Increment();
    }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IUnknown::IID_ || riid == IWeakReference::IID_ || riid == IAgileObject::IID_) {
            *object = static_cast<IWeakReference*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return own_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG remaining = own_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) {
            ModuleCounter& module = module_;
            delete this;
            module.Decrement();
        }
        return remaining;
    }

    HRESULT Resolve(REFIID riid, IInspectable** objectReference) override {
        if (objectReference == nullptr) return E_POINTER;
        *objectReference = nullptr;
        ULONG current = strong_.load(std::memory_order_relaxed);
        do {
            if (current == 0) return S_OK;
        } while (!strong_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                                std::memory_order_relaxed));
        IUnknown* object = object_.load(std::memory_order_acquire);
        HRESULT hr = object->QueryInterface(riid, reinterpret_cast<void**>(objectReference));
        object->Release();  // the reference taken above; may free the object
        return hr;
    }

    // The object's own count. The increment is relaxed (a new reference is made
    // from an existing one); the decrement is acquire-release, so the thread
    // that reaches zero sees every other holder's writes before teardown. (A
    // release decrement plus an acquire fence at zero would do, but
    // ThreadSanitizer cannot see fences.)
    ULONG AddRefStrong() noexcept { return strong_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG ReleaseStrong() noexcept { return strong_.fetch_sub(1, std::memory_order_acq_rel) - 1; }
    void ClearObject() noexcept { object_.store(nullptr, std::memory_order_release); }
    ModuleCounter& Module() const noexcept { return module_; }

private:
    ~WeakReferenceRecord() = default;

    std::atomic<ULONG> strong_{1};
    std::atomic<ULONG> own_{1};
    std::atomic<IUnknown*> object_;
    ModuleCounter& module_;
};

// Derived supplies `static constexpr const char16_t* kRuntimeClassName`.
// Interfaces are the object's interfaces in interface-list order, the first
// being its primary interface (an IInspectable). An object that lists
// IWeakReferenceSource implements GetWeakReference by calling
// ProvideWeakReference. Objects are made with MakeObject, never on the stack.
template <typename Derived, typename... Interfaces>
class RuntimeObject : public Interfaces... {
    template <typename First, typename...>
    struct FirstOf {
        using Type = First;
    };

public:
    using Primary = typename FirstOf<Interfaces...>::Type;
    static_assert(std::is_base_of_v<IInspectable, Primary>, "the primary interface must be an IInspectable");

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (riid == IUnknown::IID_ || riid == IInspectable::IID_ || riid == IAgileObject::IID_) {
            *object = static_cast<Primary*>(this);
        } else if (!FindInterface(riid, object)) {
            return marshaler_->QueryInterface(riid, object);
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return record_->AddRefStrong(); }
    ULONG Release() override {
        ULONG remaining = record_->ReleaseStrong();
        if (remaining == 0) Destroy();
        return remaining;
    }

    HRESULT GetIids(ULONG* count, IID** iids) override {
        if (count == nullptr || iids == nullptr) return E_POINTER;
        *count = 0;
        *iids = nullptr;
        constexpr ULONG kCount = sizeof...(Interfaces);
        auto* list = static_cast<IID*>(CoTaskMemAlloc(kCount * sizeof(IID)));
        if (list == nullptr) return E_OUTOFMEMORY;
        ULONG index = 0;
        ((list[index++] = IidOf<Interfaces>()), ...);
        *count = kCount;
        *iids = list;
        return S_OK;
    }
    HRESULT GetRuntimeClassName(HSTRING* className) override {
        if (className == nullptr) return E_POINTER;
        const char16_t* name = Derived::kRuntimeClassName;
        return WindowsCreateString(name, static_cast<UINT32>(std::char_traits<char16_t>::length(name)), className);
    }
    HRESULT GetTrustLevel(TrustLevel* trustLevel) override {
        if (trustLevel == nullptr) return E_POINTER;
        *trustLevel = BaseTrust;
        return S_OK;
    }

protected:
    // Makes the weak-reference record and the marshaler; the module counts
    // the record and the object. Throws OutOfMemoryException, or the error
    // kind of the marshaler's failure after releasing the record.
    explicit RuntimeObject(ModuleCounter& module) {
        record_ = new (std::nothrow) WeakReferenceRecord(static_cast<Primary*>(this), module);
        if (record_ == nullptr) throw OutOfMemoryException();
        HRESULT hr = CoCreateFreeThreadedMarshaler(static_cast<Primary*>(this), &marshaler_);
        if (FAILED(hr)) {
            record_->Release();
            RaiseForStatus(hr);
        }
        module.Increment();
    }
    virtual ~RuntimeObject() = default;

    HRESULT ProvideWeakReference(IWeakReference** weakReference) noexcept {
        if (weakReference == nullptr) return E_POINTER;
        record_->AddRef();
        *weakReference = record_;
        return S_OK;
    }

    ModuleCounter& Module() const noexcept { return record_->Module(); }

private:
    bool FindInterface(REFIID riid, void** object) {
        return ((riid == IidOf<Interfaces>() ? (*object = static_cast<Interfaces*>(this), true) : false) || ...);
    }

    // Count reached zero: unhook the record, drop the record and the
    // marshaler, free the object, and only then count it gone.
    void Destroy() noexcept {
        record_->ClearObject();
        ModuleCounter& module = record_->Module();
        record_->Release();
        marshaler_->Release();
        delete this;
        module.Decrement();
    }

    WeakReferenceRecord* record_ = nullptr;
    IUnknown* marshaler_ = nullptr;
};

// Constructs T with the arguments and hands back its one reference.
// Throws OutOfMemoryException when memory is exhausted, or whatever T's
// construction raises.
template <typename T, typename... Args>
ComPtr<T> MakeObject(Args&&... args) {
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (object == nullptr) throw OutOfMemoryException();
    return ComPtr<T>::Attach(object);
}

}  // namespace platform
