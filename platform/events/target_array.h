// The immutable, counted array of registrations behind a handler list and
// its snapshots.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "platform/comptr.h"
#include "platform/eventsource.h"

namespace platform::events {

// One add: a counted reference to the handler and the registration's token.
// Shared by every array that holds it; the handler is released with the last.
struct Registration {
    ComPtr<IUnknown> handler;
    int64_t token = 0;
};

using RegistrationList = std::vector<std::shared_ptr<const Registration>>;

class TargetArray final : public EventTargetArray {
public:
    // One reference for the caller. Throws bad_alloc.
    static ComPtr<TargetArray> Make(RegistrationList entries);

    // The array of a list (borrowed, may be null), as TargetArray.
    static TargetArray* From(EventTargetArray* array) noexcept { return static_cast<TargetArray*>(array); }

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    const RegistrationList& Entries() const noexcept { return entries_; }

private:
    explicit TargetArray(RegistrationList entries) noexcept : entries_(std::move(entries)) {}
    ~TargetArray() = default;

    std::atomic<ULONG> references_{1};
    const RegistrationList entries_;
};

}  // namespace platform::events
