// The class table: the three runtime classes the library serves, each with
// the routine that makes its activation factory.
#pragma once

#include <cstddef>

#include "platform/comptr.h"
#include "platform/winstring.h"

namespace component {

// Makes a new factory object with one reference for the caller. Throws the
// runtime's error kinds (OutOfMemoryException, a marshaler failure).
using FactoryCreator = platform::ComPtr<IActivationFactory> (*)();

struct ClassEntry {
    size_t index;                  // position in the table, and the factory's cache slot
    const char16_t* fullName;      // e.g. u"MorvalaFrameworkUiWinPRT.RegistryManager"
    FactoryCreator createFactory;
};

inline constexpr size_t kClassCount = 3;

// The entry whose full name equals `name` (ordinal comparison of all units),
// or null.
const ClassEntry* FindClass(HSTRING name) noexcept;

// The factory creators, one per class, defined beside each class.
platform::ComPtr<IActivationFactory> CreateRegistryManagerFactory();
platform::ComPtr<IActivationFactory> CreateRpcWrapperFactory();
platform::ComPtr<IActivationFactory> CreateUtilsFactory();

}  // namespace component
