// The standard implementation of the delegate type GPSLoggingSettingsCallback
// for C++ applications: a reference-counted handler object that wraps any
// callable. Header-only; it needs nothing beyond the component's ABI header
// and the standard library. The component never makes one itself: handlers
// come from the application.
//
//   GPSLoggingSettingsCallback* handler = nullptr;
//   HRESULT hr = MorvalaFrameworkUiWinPRT::MakeGPSLoggingSettingsCallback(
//       [](bool loggingNeeded) { Show(loggingNeeded); }, &handler);
//   ... statics->add_GPSLoggingSettingsChanged(handler, &token); handler->Release();
//
// The callable takes one bool (the value passed to SetDisconnectionLoggingNeeded)
// and returns either nothing or an HRESULT:
// - returning nothing: Invoke answers S_OK;
// - returning an HRESULT: Invoke answers it unchanged (RPC_E_DISCONNECTED
//   makes the event drop this handler; another failure stops the raise and
//   reaches the caller of SetDisconnectionLoggingNeeded);
// - throwing HandlerStatus: Invoke answers the status it carries (a
//   non-failure status becomes E_UNEXPECTED, since a throw means failure);
// - throwing anything else: the process ends at once (std::terminate), as at
//   every boundary of the runtime. A failure must not pass silently, and an
//   exception must never cross the ABI.
//
// The object answers IUnknown, GPSLoggingSettingsCallback and IAgileObject
// (it may be called from any thread; the callable must allow that too, since
// the event calls it on whichever thread sets the flag) and E_NOINTERFACE for
// anything else. The callable is destroyed with the object, when its last
// reference is released.
#pragma once

#include <atomic>
#include <exception>
#include <new>
#include <type_traits>
#include <utility>

#include "MorvalaFrameworkUiWinPRT.h"

namespace MorvalaFrameworkUiWinPRT {

// Thrown by a handler's callable to report a status code through Invoke.
class HandlerStatus : public std::exception {
public:
    explicit HandlerStatus(HRESULT code) noexcept : code_(code) {}
    HRESULT code() const noexcept { return code_; }
    const char* what() const noexcept override { return "GPSLoggingSettingsCallback handler failed"; }

private:
    HRESULT code_;
};

// A GPSLoggingSettingsCallback that calls a Callable. Made on the heap by
// MakeGPSLoggingSettingsCallback; freed by its last Release.
template <typename Callable>
class GPSLoggingSettingsHandler final : public GPSLoggingSettingsCallback {
    using Result = std::invoke_result_t<Callable&, bool>;
    static_assert(std::is_void_v<Result> || std::is_same_v<Result, HRESULT>,
                  "a GPSLoggingSettingsCallback callable returns nothing or an HRESULT");

public:
    explicit GPSLoggingSettingsHandler(Callable callable) : callable_(std::move(callable)) {}
    GPSLoggingSettingsHandler(const GPSLoggingSettingsHandler&) = delete;
    GPSLoggingSettingsHandler& operator=(const GPSLoggingSettingsHandler&) = delete;

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        // IAgileObject adds nothing to IUnknown, so this one interface serves all three.
        if (riid == IUnknown::IID_ || riid == GPSLoggingSettingsCallback::IID_ || riid == IAgileObject::IID_) {
            *object = static_cast<GPSLoggingSettingsCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG AddRef() override { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG Release() override {
        ULONG remaining = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (remaining == 0) delete this;
        return remaining;
    }

    HRESULT Invoke(boolean value) override {
        try {
            if constexpr (std::is_void_v<Result>) {
                callable_(value != 0);
                return S_OK;
            } else {
                return callable_(value != 0);
            }
        } catch (const HandlerStatus& status) {
            return FAILED(status.code()) ? status.code() : E_UNEXPECTED;
        } catch (...) {
            std::terminate();
        }
    }

private:
    ~GPSLoggingSettingsHandler() = default;

    std::atomic<ULONG> count_{1};
    Callable callable_;
};

// Makes a handler around `callable` (copied or moved into it) and gives it in
// *handler with one reference that the caller owns. S_OK; E_POINTER for a
// null handler; E_OUTOFMEMORY (with *handler null) when memory is exhausted.
// An exception other than std::bad_alloc from copying or moving the callable
// ends the process.
template <typename Callable>
HRESULT MakeGPSLoggingSettingsCallback(Callable&& callable, GPSLoggingSettingsCallback** handler) noexcept {
    if (handler == nullptr) return E_POINTER;
    *handler = nullptr;
    try {
        *handler = new GPSLoggingSettingsHandler<std::decay_t<Callable>>(std::forward<Callable>(callable));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace MorvalaFrameworkUiWinPRT
