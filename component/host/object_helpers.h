// Small conversions between a component object's own reference and the
// interface through which it leaves the component.
#pragma once

#include <utility>

#include "platform/comptr.h"

namespace component {

// Hands the reference of `object` over as a reference to Interface, one of
// its (unambiguous) interfaces. No count changes.
template <typename Interface, typename Object>
platform::ComPtr<Interface> AsInterface(platform::ComPtr<Object>&& object) noexcept {
    return platform::ComPtr<Interface>::Attach(static_cast<Interface*>(object.detach()));
}

// Hands the reference of `object` over as an IInspectable, through the
// object's primary interface (every interface of an object derives from
// IInspectable, so only the primary one names it unambiguously).
template <typename Object>
platform::ComPtr<IInspectable> AsInspectable(platform::ComPtr<Object>&& object) noexcept {
    using Primary = typename Object::Primary;
    return platform::ComPtr<IInspectable>::Attach(static_cast<Primary*>(object.detach()));
}

}  // namespace component
