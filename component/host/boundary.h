// The boundary convention: the one helper through which every operation that
// the runtime calls on the component's own interfaces runs.
//
//   HRESULT Statics::DeviceExists(HSTRING deviceId, boolean* result) {
//       return component::Invoke(result, [&] { return registry::DeviceExists(deviceId); });
//   }
//
// Steps: (1) each out-parameter is set to its zero value (null String or
// reference, 0, false, token 0); a null out-parameter answers E_POINTER and
// the work does not run. (2) The work runs. (3) When it returns, its result
// is stored into the out-parameter(s) and S_OK is returned. (4) When it
// raises platform::RuntimeError (any error kind), its status code is
// returned and the out-parameters keep their zero values. (5) Any other
// exception (std::bad_alloc, std::length_error, ...) ends the process
// through platform::FailFast; nothing is returned.
//
// Forms:
//   Invoke(work)               work returns nothing
//   Invoke(out, work)          work returns the result for out
//   Invoke(out1, out2, work)   work returns std::pair{result1, result2}
// Results by out-parameter type:
//   HSTRING*           platform::UniqueHString (its handle passes to the caller)
//   I**                platform::ComPtr<J> with J* convertible to I* (its reference passes)
//   boolean*           bool (stored as 1 or 0)
//   INT32*             INT32
//   EventRegistrationToken*  EventRegistrationToken
#pragma once

#include <exception>
#include <new>
#include <type_traits>
#include <utility>

#include "platform/comptr.h"
#include "platform/errors.h"
#include "platform/failfast.h"
#include "platform/winstring.h"

namespace component {
namespace boundary_detail {

inline void Zero(HSTRING* out) noexcept { *out = nullptr; }
template <typename Interface>
void Zero(Interface** out) noexcept {
    *out = nullptr;
}
inline void Zero(boolean* out) noexcept { *out = 0; }
inline void Zero(INT32* out) noexcept { *out = 0; }
inline void Zero(EventRegistrationToken* out) noexcept { *out = EventRegistrationToken{0}; }

inline void Store(HSTRING* out, platform::UniqueHString&& value) noexcept { *out = value.release(); }
template <typename Interface, typename Held>
void Store(Interface** out, platform::ComPtr<Held>&& value) noexcept {
    static_assert(std::is_convertible_v<Held*, Interface*>, "the result's interface does not fit the out-parameter");
    *out = value.detach();
}
inline void Store(boolean* out, bool value) noexcept { *out = value ? 1 : 0; }
inline void Store(INT32* out, INT32 value) noexcept { *out = value; }
inline void Store(EventRegistrationToken* out, EventRegistrationToken value) noexcept { *out = value; }

// A runtime error leaves as its status code. A code that is not a failure
// cannot report an error (the caller would take the zeroed outputs for a
// result), so it leaves as E_UNEXPECTED.
inline HRESULT StatusOf(const platform::RuntimeError& error) noexcept {
    return FAILED(error.code()) ? error.code() : E_UNEXPECTED;
}

// Step 5: a failure outside the runtime's error kinds ends the process.
[[noreturn]] inline void FailFastOnForeignError() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        platform::FailFast(E_OUTOFMEMORY, "allocation failed inside a component member");
    } catch (const std::exception& error) {
        platform::FailFast(E_UNEXPECTED, error.what());
    } catch (...) {
        platform::FailFast(E_UNEXPECTED, "non-runtime failure inside a component member");
    }
}

}  // namespace boundary_detail

// Operation without a result.
template <typename Work>
HRESULT Invoke(Work&& work) noexcept {
    try {
        std::forward<Work>(work)();
        return S_OK;
    } catch (const platform::RuntimeError& error) {
        return boundary_detail::StatusOf(error);
    } catch (...) {
        boundary_detail::FailFastOnForeignError();
    }
}

// Operation with one out-parameter.
template <typename Out, typename Work>
HRESULT Invoke(Out* out, Work&& work) noexcept {
    if (out == nullptr) return E_POINTER;
    boundary_detail::Zero(out);
    try {
        boundary_detail::Store(out, std::forward<Work>(work)());
        return S_OK;
    } catch (const platform::RuntimeError& error) {
        return boundary_detail::StatusOf(error);
    } catch (...) {
        boundary_detail::FailFastOnForeignError();
    }
}

// Operation with two out-parameters; work returns a std::pair whose first
// member goes to out1 and second to out2.
template <typename Out1, typename Out2, typename Work>
HRESULT Invoke(Out1* out1, Out2* out2, Work&& work) noexcept {
    if (out1 != nullptr) boundary_detail::Zero(out1);
    if (out2 != nullptr) boundary_detail::Zero(out2);
    // The out-parameter that was given reads as "no result", not as the
    // caller's stale contents, when the other one is missing.
    if (out1 == nullptr || out2 == nullptr) return E_POINTER;
    try {
        auto [first, second] = std::forward<Work>(work)();
        boundary_detail::Store(out1, std::move(first));
        boundary_detail::Store(out2, std::move(second));
        return S_OK;
    } catch (const platform::RuntimeError& error) {
        return boundary_detail::StatusOf(error);
    } catch (...) {
        boundary_detail::FailFastOnForeignError();
    }
}

}  // namespace component
