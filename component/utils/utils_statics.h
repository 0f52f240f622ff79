// The Utils factory: the statics interface with ExitApplication, and
// IActivationFactory, whose ActivateInstance gives a new Utils instance.
// Also the Utils instance, which has no members of its own and holds no data.
#pragma once

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/object.h"

namespace component::utils {

class UtilsStatics final
    : public platform::RuntimeObject<UtilsStatics, MorvalaFrameworkUiWinPRT::__IUtilsStatics, IActivationFactory> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::FactoryClass_Utils;

    explicit UtilsStatics(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT ActivateInstance(IInspectable** instance) override;
    HRESULT ExitApplication() override;

private:
    ~UtilsStatics() override = default;
};

class Utils final
    : public platform::RuntimeObject<Utils, MorvalaFrameworkUiWinPRT::__IUtilsPublicNonVirtuals,
                                     IWeakReferenceSource> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::RuntimeClass_Utils;

    explicit Utils(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT GetWeakReference(IWeakReference** weakReference) override { return ProvideWeakReference(weakReference); }

private:
    ~Utils() override = default;
};

}  // namespace component::utils
