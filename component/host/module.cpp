#include "module.h"

#include <new>
#include <utility>

#include "exit_handlers.h"
#include "load_steps.h"

namespace component {
namespace {

platform::ModuleCounter liveObjects;
std::atomic<Module*> currentModule{nullptr};

// True when the slot's reference is the factory's only one. The caller holds
// the module lock exclusively, so no one can take a new reference from the
// slot meanwhile; a count of exactly one then cannot grow.
bool HeldOnlyBySlot(IActivationFactory* factory) noexcept {
    ULONG withProbe = factory->AddRef();
    factory->Release();
    return withProbe == 2;
}

// Load step 2: the module object, torn down (cache released) at unload.
bool ConstructModule() {
    auto* module = new (std::nothrow) Module;
    if (module == nullptr) return false;
    currentModule.store(module, std::memory_order_release);
    RegisterExitHandler([] {
        Module* gone = currentModule.exchange(nullptr, std::memory_order_acq_rel);
        gone->ReleaseCachedFactories();
        delete gone;
    });
    return true;
}

LoadStep moduleObjectStep{LoadStage::ModuleObject, ConstructModule};

}  // namespace

platform::ModuleCounter& LiveObjects() noexcept { return liveObjects; }

Module* CurrentModule() noexcept { return currentModule.load(std::memory_order_acquire); }

platform::ComPtr<IActivationFactory> Module::Factory(const ClassEntry& entry) {
    Slot& slot = slots_[entry.index];
    {
        platform::SharedLock guard(lock_);
        if (slot) return slot;
    }
    Slot made = entry.createFactory();
    Slot unused;  // a factory made by a thread that lost the race, released after the lock
    {
        platform::ExclusiveLock guard(lock_);
        if (!slot) {
            slot = made;
        } else {
            unused = std::exchange(made, slot);
        }
    }
    return made;
}

bool Module::CanUnloadNow() noexcept {
    std::array<Slot, kClassCount> idle;
    {
        platform::ExclusiveLock guard(lock_);
        for (size_t i = 0; i < slots_.size(); ++i) {
            if (slots_[i] && HeldOnlyBySlot(slots_[i].get())) idle[i] = std::move(slots_[i]);
        }
    }
    for (Slot& factory : idle) factory.reset();
    return liveObjects.Count() == 0;
}

void Module::ReleaseCachedFactories() noexcept {
    for (Slot& slot : slots_) {
        Slot taken;
        {
            platform::ExclusiveLock guard(lock_);
            taken = std::move(slot);
        }
        taken.reset();
    }
}

}  // namespace component
