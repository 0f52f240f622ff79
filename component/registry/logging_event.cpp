// The static event GPSLoggingSettingsChanged of RegistryManager: its storage,
// set up at library load, its two accessors, and its raise.
//
// Storage. One handler list and one event lock for the whole library. The
// lock starts unlocked (SRWLOCK_INIT) and is handed to the event-source
// operations for add, remove and taking a snapshot, and to nothing else; no
// lock is held while a handler runs, so a handler may add, remove, read or
// set the flag (raising the event again, nested) without deadlock. A change
// of registrations made during a raise shows from the next raise on.
//
// Registrations. Every add makes a registration of its own: one delegate
// added twice is called twice per raise and has two tokens, removed one by
// one. A null handler is refused with E_INVALIDARG and token 0. Removing a
// token that is not registered (never was, or no longer is) does nothing.
// Both choices are the event-source operations' own; the accessors pass their
// arguments through as they receive them.
#include "host/exit_handlers.h"
#include "host/load_steps.h"
#include "logging_flag.h"
#include "platform/comptr.h"
#include "platform/errors.h"
#include "platform/eventsource.h"
#include "registry_members.h"

namespace component::registry {
namespace {

using Callback = MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback;

EventSource gpsLoggingHandlers{};          // set up by the load step below
SRWLOCK gpsLoggingLock = SRWLOCK_INIT;  // add, remove and snapshot only

// Unload: drops every registration, releasing the handlers. Registered as an
// exit handler by the load step, so it runs after the release of the shared
// instance (registered later, on first use) and before the module teardown
// (registered earlier).
void TeardownEventStorage() noexcept { EventSourceUninitialize(&gpsLoggingHandlers); }

// Load step 3, before any class can be obtained: an empty handler list.
bool InitializeEventStorage() {
    if (FAILED(EventSourceInitialize(&gpsLoggingHandlers))) return false;
    RegisterExitHandler(TeardownEventStorage);
    return true;
}

LoadStep eventStorageStep{LoadStage::StaticEventStorage, InitializeEventStorage};

// Calls the handler of snapshot entry `index`. The entry comes queried for
// the delegate interface; a failure of that query or of Invoke is raised as
// its error kind.
void InvokeEntry(EventTargetArray* snapshot, ULONG index, bool value) {
    platform::ComPtr<Callback> handler;
    platform::ThrowIfFailed(EventSourceGetTargetArrayEvent(snapshot, index, Callback::IID_, handler.put_void()));
    platform::ThrowIfFailed(handler->Invoke(value ? 1 : 0));
}

// Takes the registration of snapshot entry `index` out of the handler list.
void RemoveEntry(EventTargetArray* snapshot, ULONG index) {
    EventRegistrationToken token{0};
    platform::ThrowIfFailed(EventSourceGetTargetArrayToken(snapshot, index, &token));
    platform::ThrowIfFailed(EventSourceRemove(&gpsLoggingHandlers, &gpsLoggingLock, token));
}

}  // namespace

void RaiseGPSLoggingSettingsChanged(bool value) {
    platform::ComPtr<EventTargetArray> snapshot;
    platform::ThrowIfFailed(EventSourceGetTargetArray(&gpsLoggingHandlers, &gpsLoggingLock, snapshot.put()));
    if (!snapshot) return;  // no handler registered
    ULONG size = 0;
    platform::ThrowIfFailed(EventSourceGetTargetArraySize(snapshot.get(), &size));
    for (ULONG index = 0; index < size; ++index) {
        try {
            InvokeEntry(snapshot.get(), index, value);
        } catch (const platform::DisconnectedException&) {
            // The handler's owner is gone: drop it for good and go on.
            RemoveEntry(snapshot.get(), index);
        }
        // Any other error leaves here; the snapshot's reference goes with it.
    }
}

EventRegistrationToken AddGPSLoggingSettingsChanged(Callback* handler) {
    EventRegistrationToken token{0};
    platform::ThrowIfFailed(EventSourceAdd(&gpsLoggingHandlers, &gpsLoggingLock, handler, &token));
    return token;
}

void RemoveGPSLoggingSettingsChanged(EventRegistrationToken token) {
    platform::ThrowIfFailed(EventSourceRemove(&gpsLoggingHandlers, &gpsLoggingLock, token));
}

}  // namespace component::registry
