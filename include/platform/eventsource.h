// The runtime's event-source operations: a handler list that any thread may
// add to, remove from and raise from at the same time.
//
// Storage. The list holds one counted, immutable array of registrations.
// Add and remove build a new array and swap it in; taking a snapshot adds a
// reference to the current array. A snapshot therefore never changes while
// it is held, and handlers registered or removed meanwhile show only in later
// snapshots. The caller's lock is held exclusively for add and remove and
// shared for taking a snapshot, and for nothing else: no handler runs, and no
// handler is released, while it is held, so a handler may itself add, remove
// or raise.
//
// Registrations and tokens. Every add makes a registration of its own, which
// holds a counted reference to the handler, so one handler added twice makes
// two registrations with two tokens, removable one by one. The token is the
// identity of the registration record (its address, widened to 64 bits),
// tagged in the bits above the address with a 15-bit serial number so that
// a stale token does not match a later registration that happens to reuse
// the record's address. Tokens are never 0. The raise gets the token of a
// snapshot entry with EventSourceGetTargetArrayToken and may remove it.
//
// Entries are kept in the order in which they were added.
#pragma once

#include "platform/abi.h"
#include "platform/combase.h"

// A snapshot of a handler list: a counted object (IUnknown); release it with
// Release, or hold it in platform::ComPtr<EventTargetArray>. It answers
// QueryInterface for IUnknown only.
struct EventTargetArray : IUnknown {};

// A handler list. All zero is the empty list, so a static one works before
// EventSourceInitialize; its member belongs to the operations below.
struct EventSource {
    EventTargetArray* targets;
};

extern "C" {

// Sets the list to empty (whatever it held is not released). S_OK;
// E_INVALIDARG for a null list.
HRESULT EventSourceInitialize(EventSource* list);

// Drops every registration, releasing the handlers that no snapshot still
// holds. Must not run at the same time as another operation on the list.
// S_OK; E_INVALIDARG for a null list.
HRESULT EventSourceUninitialize(EventSource* list);

// Registers `handler` (a counted reference is kept) at the end of the list
// and gives its token. S_OK; E_INVALIDARG with token 0 for a null list, lock
// or handler; E_POINTER for a null token; E_OUTOFMEMORY with token 0.
HRESULT EventSourceAdd(EventSource* list, SRWLOCK* lock, IUnknown* handler, EventRegistrationToken* token);

// Takes the registration of `token` out of the list; later snapshots do not
// hold it. A token that is not registered (never was, or already removed)
// changes nothing. S_OK; E_INVALIDARG for a null list or lock; E_OUTOFMEMORY
// (list unchanged).
HRESULT EventSourceRemove(EventSource* list, SRWLOCK* lock, EventRegistrationToken token);

// *snapshot receives a counted reference to the registrations as they are
// now, or null when there are none (S_OK both ways). E_INVALIDARG for a null
// list or lock; E_POINTER for a null snapshot.
HRESULT EventSourceGetTargetArray(EventSource* list, SRWLOCK* lock, EventTargetArray** snapshot);

// The number of entries of a snapshot. S_OK; E_INVALIDARG for a null snapshot
// or size.
HRESULT EventSourceGetTargetArraySize(EventTargetArray* snapshot, ULONG* size);

// The handler of entry `index`, queried for `iid` (IUnknown::IID_ gives its
// identity): a counted reference the caller releases. S_OK; E_BOUNDS for an
// index at or past the size; E_INVALIDARG for a null snapshot or handler;
// otherwise the handler's own QueryInterface status (E_NOINTERFACE) with
// *handler null.
HRESULT EventSourceGetTargetArrayEvent(EventTargetArray* snapshot, ULONG index, REFIID iid, void** handler);

// The token of entry `index`, for EventSourceRemove. S_OK; E_BOUNDS for an
// index at or past the size; E_INVALIDARG for a null snapshot or token.
HRESULT EventSourceGetTargetArrayToken(EventTargetArray* snapshot, ULONG index, EventRegistrationToken* token);

}  // extern "C"
