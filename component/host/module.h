// The module object: one per loaded library. It holds the live-object count
// (every object and weak-reference record the component made and has not yet
// freed), the module lock, and the class table's factory cache slots.
#pragma once

#include <array>
#include <cstddef>

#include "class_table.h"
#include "platform/combase.h"
#include "platform/comptr.h"
#include "platform/object.h"

namespace component {

// The live-object count that every object of the component is made with.
// It exists for the library's whole life (objects may be released after the
// module object is torn down) and needs no setting up.
platform::ModuleCounter& LiveObjects() noexcept;

class Module {
public:
    Module() = default;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The factory of class `entry`: the cached one, or one made now by the
    // entry's creator and cached. Returns one reference for the caller.
    // Throws what the creator throws.
    platform::ComPtr<IActivationFactory> Factory(const ClassEntry& entry);

    // Answers the unload check: drops cached factories that nobody but their
    // cache slot holds (they are made again on demand), then true exactly when
    // the live-object count is 0.
    bool CanUnloadNow() noexcept;

    // Module teardown: releases whatever the cache slots hold, whatever the
    // live-object count. Each factory is taken out under the lock and released
    // after it.
    void ReleaseCachedFactories() noexcept;

private:
    using Slot = platform::ComPtr<IActivationFactory>;

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::array<Slot, kClassCount> slots_;
};

// The module object of the loaded library; null before load step 2 and after
// its teardown.
Module* CurrentModule() noexcept;

}  // namespace component
