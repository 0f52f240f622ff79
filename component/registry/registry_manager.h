// A RegistryManager instance. Callers cannot activate one; the component
// keeps one shared instance that GetInstance hands out. It has no members of
// its own and holds no data.
#pragma once

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/object.h"

namespace component::registry {

class RegistryManager final
    : public platform::RuntimeObject<RegistryManager, MorvalaFrameworkUiWinPRT::__IRegistryManagerPublicNonVirtuals,
                                     IWeakReferenceSource> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::RuntimeClass_RegistryManager;

    explicit RegistryManager(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT GetWeakReference(IWeakReference** weakReference) override { return ProvideWeakReference(weakReference); }

private:
    ~RegistryManager() override = default;
};

}  // namespace component::registry
