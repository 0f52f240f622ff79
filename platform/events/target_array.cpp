#include "target_array.h"

namespace platform::events {

ComPtr<TargetArray> TargetArray::Make(RegistrationList entries) {
    return ComPtr<TargetArray>::Attach(new TargetArray(std::move(entries)));
}

HRESULT TargetArray::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IUnknown::IID_) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// Relaxed increments (a reference is made from one already held); the
// decrement both publishes this holder's writes and, for the thread that
// reaches zero, acquires every other holder's before teardown.
ULONG TargetArray::AddRef() { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG TargetArray::Release() {
    ULONG remaining = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;
    return remaining;
}

}  // namespace platform::events
