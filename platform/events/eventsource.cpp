// The event-source operations over a copy-on-write array of registrations.
// Arrays that are replaced are released only after the lock is let go, since
// releasing the last reference to a registration releases its handler, and
// a handler's teardown may call back into the list.
#include "platform/eventsource.h"

#include <algorithm>
#include <atomic>
#include <new>

#include "target_array.h"

using platform::ComPtr;
using platform::ExclusiveLock;
using platform::SharedLock;
using platform::events::Registration;
using platform::events::RegistrationList;
using platform::events::TargetArray;

namespace {

constexpr int kAddressBits = 48;

// The token of a registration: the record's address, tagged above bit 47
// with a serial number from 1 to 32767 when the address leaves room for it.
int64_t TokenFor(const Registration* registration) noexcept {
    static std::atomic<uint32_t> serial{0};
    auto address = reinterpret_cast<uintptr_t>(registration);
    auto identity = static_cast<uint64_t>(address);
    if ((identity >> kAddressBits) != 0) return static_cast<int64_t>(identity);
    uint64_t tag = serial.fetch_add(1, std::memory_order_relaxed) % 0x7FFFu + 1u;
    return static_cast<int64_t>(identity | (tag << kAddressBits));
}

// The entries of the list's current array; the caller holds the lock.
const RegistrationList& CurrentEntries(const EventSource* list) noexcept {
    static const RegistrationList kNone;
    return list->targets == nullptr ? kNone : TargetArray::From(list->targets)->Entries();
}

// Puts `next` (may be null) in place of the list's array and hands back the
// reference the list held, for the caller to release after the lock.
ComPtr<TargetArray> Swap(EventSource* list, ComPtr<TargetArray> next) noexcept {
    auto old = ComPtr<TargetArray>::Attach(TargetArray::From(list->targets));
    list->targets = next.detach();
    return old;
}

const Registration* EntryAt(EventTargetArray* snapshot, ULONG index) noexcept {
    const RegistrationList& entries = TargetArray::From(snapshot)->Entries();
    return index < entries.size() ? entries[index].get() : nullptr;
}

}  // namespace

extern "C" {

HRESULT EventSourceInitialize(EventSource* list) {
    if (list == nullptr) return E_INVALIDARG;
    list->targets = nullptr;
    return S_OK;
}

HRESULT EventSourceUninitialize(EventSource* list) {
    if (list == nullptr) return E_INVALIDARG;
    Swap(list, nullptr);
    return S_OK;
}

HRESULT EventSourceAdd(EventSource* list, SRWLOCK* lock, IUnknown* handler, EventRegistrationToken* token) {
    if (token == nullptr) return E_POINTER;
    token->value = 0;
    if (list == nullptr || lock == nullptr || handler == nullptr) return E_INVALIDARG;
    try {
        auto registration = std::make_shared<Registration>();
        registration->handler = ComPtr<IUnknown>::Copy(handler);
        registration->token = TokenFor(registration.get());
        ComPtr<TargetArray> old;
        {
            ExclusiveLock hold(*lock);
            RegistrationList entries = CurrentEntries(list);
            entries.push_back(registration);
            old = Swap(list, TargetArray::Make(std::move(entries)));
        }
        token->value = registration->token;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EventSourceRemove(EventSource* list, SRWLOCK* lock, EventRegistrationToken token) {
    if (list == nullptr || lock == nullptr) return E_INVALIDARG;
    try {
        ComPtr<TargetArray> old;
        {
            ExclusiveLock hold(*lock);
            const RegistrationList& current = CurrentEntries(list);
            auto found = std::find_if(current.begin(), current.end(),
                                      [&](const auto& entry) { return entry->token == token.value; });
            if (found == current.end()) return S_OK;
            RegistrationList entries;
            entries.reserve(current.size() - 1);
            entries.insert(entries.end(), current.begin(), found);
            entries.insert(entries.end(), found + 1, current.end());
            old = Swap(list, entries.empty() ? nullptr : TargetArray::Make(std::move(entries)));
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT EventSourceGetTargetArray(EventSource* list, SRWLOCK* lock, EventTargetArray** snapshot) {
    if (snapshot == nullptr) return E_POINTER;
    *snapshot = nullptr;
    if (list == nullptr || lock == nullptr) return E_INVALIDARG;
    SharedLock hold(*lock);
    if (list->targets != nullptr) {
        list->targets->AddRef();
        *snapshot = list->targets;
    }
    return S_OK;
}

HRESULT EventSourceGetTargetArraySize(EventTargetArray* snapshot, ULONG* size) {
    if (snapshot == nullptr || size == nullptr) return E_INVALIDARG;
    *size = static_cast<ULONG>(TargetArray::From(snapshot)->Entries().size());
    return S_OK;
}

HRESULT EventSourceGetTargetArrayEvent(EventTargetArray* snapshot, ULONG index, REFIID iid, void** handler) {
    if (snapshot == nullptr || handler == nullptr) return E_INVALIDARG;
    *handler = nullptr;
    const Registration* entry = EntryAt(snapshot, index);
    if (entry == nullptr) return E_BOUNDS;
    return entry->handler->QueryInterface(iid, handler);
}

HRESULT EventSourceGetTargetArrayToken(EventTargetArray* snapshot, ULONG index, EventRegistrationToken* token) {
    if (snapshot == nullptr || token == nullptr) return E_INVALIDARG;
    token->value = 0;
    const Registration* entry = EntryAt(snapshot, index);
    if (entry == nullptr) return E_BOUNDS;
    token->value = entry->token;
    return S_OK;
}

}  // extern "C"
