// The slim reader/writer lock keeps its whole state in the pointer-sized
// word: bit 0 marks an exclusive holder, the bits above count shared holders.
// Waiters sleep on the word itself (C++20 atomic wait), so the all-zero lock
// is a valid unlocked lock and there is nothing to tear down.
#include <atomic>
#include <cstdint>

#include "platform/combase.h"

namespace {

constexpr uintptr_t kExclusive = 1;
constexpr uintptr_t kOneShared = 2;

void* Word(uintptr_t value) { return reinterpret_cast<void*>(value); }
uintptr_t Value(void* word) { return reinterpret_cast<uintptr_t>(word); }

}  // namespace

extern "C" {

void InitializeSRWLock(SRWLOCK* lock) { lock->Ptr = nullptr; }

void AcquireSRWLockExclusive(SRWLOCK* lock) {
    std::atomic_ref<void*> state(lock->Ptr);
    void* current = state.load(std::memory_order_relaxed);
    for (;;) {
        if (current == nullptr) {
            if (state.compare_exchange_weak(current, Word(kExclusive), std::memory_order_acquire,
                                            std::memory_order_relaxed))
                return;
            continue;
        }
        state.wait(current, std::memory_order_relaxed);
        current = state.load(std::memory_order_relaxed);
    }
}

void ReleaseSRWLockExclusive(SRWLOCK* lock) {
    std::atomic_ref<void*> state(lock->Ptr);
    state.store(nullptr, std::memory_order_release);
    state.notify_all();
}

void AcquireSRWLockShared(SRWLOCK* lock) {
    std::atomic_ref<void*> state(lock->Ptr);
    void* current = state.load(std::memory_order_relaxed);
    for (;;) {
        if ((Value(current) & kExclusive) != 0) {
            state.wait(current, std::memory_order_relaxed);
            current = state.load(std::memory_order_relaxed);
            continue;
        }
        if (state.compare_exchange_weak(current, Word(Value(current) + kOneShared), std::memory_order_acquire,
                                        std::memory_order_relaxed))
            return;
    }
}

void ReleaseSRWLockShared(SRWLOCK* lock) {
    std::atomic_ref<void*> state(lock->Ptr);
    void* current = state.load(std::memory_order_relaxed);
    while (!state.compare_exchange_weak(current, Word(Value(current) - kOneShared), std::memory_order_release,
                                        std::memory_order_relaxed)) {
    }
    if (Value(current) - kOneShared == 0) state.notify_all();
}

}  // extern "C"
