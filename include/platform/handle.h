// One move-only owner for every kind of handle. A kind is a small traits
// struct: the handle's type, its invalid value and its close routine, e.g.
//   struct KeyTraits { using Type = HKEY; static Type Invalid() { return nullptr; }
//                      static void Close(Type key) { RegCloseKey(key); } };
//   using UniqueKey = platform::UniqueHandle<KeyTraits>;
#pragma once

#include <utility>

namespace platform {

template <typename Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
    explicit UniqueHandle(Type handle) noexcept : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Type get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

    // Closes the current handle and returns the address to receive a new one.
    Type* put() noexcept {
        reset();
        return &handle_;
    }

    // Gives up ownership without closing.
    Type release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

    void reset(Type handle = Traits::Invalid()) noexcept {
        Type old = std::exchange(handle_, handle);
        if (old != Traits::Invalid()) Traits::Close(old);
    }

private:
    Type handle_;
};

}  // namespace platform
