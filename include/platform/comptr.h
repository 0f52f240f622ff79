// An owning reference to an object interface: AddRef on copy, Release on
// destruction, never a raw owning pointer.
#pragma once

#include <utility>

#include "platform/abi.h"

namespace platform {

template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_) { AddRefIfAny(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~ComPtr() { ReleaseIfAny(); }

    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* pointer) noexcept {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }
    // Adds a reference of its own.
    static ComPtr Copy(T* pointer) noexcept {
        ComPtr result;
        result.pointer_ = pointer;
        result.AddRefIfAny();
        return result;
    }

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    // Releases the current reference and returns the address to receive a new one.
    T** put() noexcept {
        ReleaseIfAny();
        pointer_ = nullptr;
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Hands the reference to the caller.
    T* detach() noexcept { return std::exchange(pointer_, nullptr); }

    void reset() noexcept {
        ReleaseIfAny();
        pointer_ = nullptr;
    }

    // QueryInterface for another interface; null result on failure.
    template <typename U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        if (pointer_ == nullptr) return E_POINTER;
        return pointer_->QueryInterface(IidOf<U>(), out.put_void());
    }

private:
    void AddRefIfAny() noexcept {
        if (pointer_ != nullptr) pointer_->AddRef();
    }
    void ReleaseIfAny() noexcept {
        if (pointer_ != nullptr) pointer_->Release();
    }

    T* pointer_ = nullptr;
};

}  // namespace platform
