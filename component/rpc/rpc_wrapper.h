// An RpcWrapper instance: seven members, each forwarding to one procedure of
// the connection service or the accessory service. It holds no data.
#pragma once

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/object.h"

namespace component::rpc {

class RpcWrapper final
    : public platform::RuntimeObject<RpcWrapper, MorvalaFrameworkUiWinPRT::__IRpcWrapperPublicNonVirtuals,
                                     IWeakReferenceSource> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::RuntimeClass_RpcWrapper;

    explicit RpcWrapper(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT GetWeakReference(IWeakReference** weakReference) override { return ProvideWeakReference(weakReference); }

    // __IRpcWrapperPublicNonVirtuals, in slot order.
    HRESULT SendConnectionServiceText(HSTRING text) override;
    HRESULT GetAccessoryServiceFlag(boolean* result) override;
    HRESULT SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third, boolean* result) override;
    HRESULT SendConnectionServiceNonEmptyText(HSTRING text) override;
    HRESULT CheckConnectionServiceText(HSTRING text, boolean* result) override;
    HRESULT GetConnectionServiceText(HSTRING* result) override;
    HRESULT GetAccessoryServiceText(HSTRING* result) override;

private:
    ~RpcWrapper() override = default;
};

// The RpcWrapper factory: IActivationFactory only (the class has no static
// members); ActivateInstance gives a new RpcWrapper.
class RpcWrapperFactory final : public platform::RuntimeObject<RpcWrapperFactory, IActivationFactory> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::FactoryClass_RpcWrapper;

    explicit RpcWrapperFactory(platform::ModuleCounter& module) : RuntimeObject(module) {}

    HRESULT ActivateInstance(IInspectable** instance) override;

private:
    ~RpcWrapperFactory() override = default;
};

}  // namespace component::rpc
