// Object plumbing of the runtime: task memory, the free-threaded marshaler,
// in-process marshalling over a memory stream, and the slim reader/writer lock.
#pragma once

#include "platform/abi.h"

// The pointer-sized slim reader/writer lock. Zero is the unlocked state, so a
// static lock needs no setting up (SRWLOCK_INIT).
struct SRWLOCK {
    void* Ptr;
};
#define SRWLOCK_INIT {nullptr}

// Class of the free-threaded marshaler's unmarshaller.
constexpr CLSID CLSID_InProcFreeMarshaler{0x0000033A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

extern "C" {

// A block of at least `size` bytes (a valid block for 0), or null when memory
// is exhausted. Freed with CoTaskMemFree.
void* CoTaskMemAlloc(size_t size);
// Frees a block from CoTaskMemAlloc; null is harmless.
void CoTaskMemFree(void* block);

// The free-threaded marshaler, aggregated with `outer`: *marshaler receives
// its non-delegating IUnknown (one reference, owned by the outer object),
// whose IMarshal delegates its IUnknown calls to `outer`. It marshals within
// the process by pointer, so an object marshalled on one thread unmarshals on
// any other to the very same object. E_INVALIDARG for null arguments,
// E_OUTOFMEMORY.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

// A growable memory stream holding a copy of `initial` (may be null), with
// one reference for the caller; null when memory is exhausted.
IStream* SHCreateMemStream(const BYTE* initial, UINT32 size);

// Writes into `stream` what CoUnmarshalInterface needs to reach `object` as
// `riid` from another thread of this process; the object must answer IMarshal
// (every object of the runtime does). The stream holds a reference until it is
// unmarshalled or released with CoReleaseMarshalData.
HRESULT CoMarshalInterface(IStream* stream, REFIID riid, IUnknown* object, DWORD destContext,
                           void* destContextData, DWORD flags);
// Reads what CoMarshalInterface wrote and gives the object as `riid`.
HRESULT CoUnmarshalInterface(IStream* stream, REFIID riid, void** object);
// Drops the reference that marshalled data holds without unmarshalling it.
HRESULT CoReleaseMarshalData(IStream* stream);

// The slim reader/writer lock. The lock is not recursive; shared holders may
// be many, an exclusive holder is alone. Releases must match acquisitions.
void InitializeSRWLock(SRWLOCK* lock);
void AcquireSRWLockExclusive(SRWLOCK* lock);
void ReleaseSRWLockExclusive(SRWLOCK* lock);
void AcquireSRWLockShared(SRWLOCK* lock);
void ReleaseSRWLockShared(SRWLOCK* lock);

}  // extern "C"

namespace platform {

// Holds an SRW lock exclusively for a scope.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// Holds an SRW lock shared for a scope.
class SharedLock {
public:
    explicit SharedLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
    ~SharedLock() { ReleaseSRWLockShared(&lock_); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK& lock_;
};

}  // namespace platform
