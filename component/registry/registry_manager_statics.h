// The RegistryManager factory: the statics interface with the class's
// thirteen static members, and IActivationFactory, whose ActivateInstance
// refuses (the class cannot be activated; GetInstance gives the shared one).
#pragma once

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/object.h"

namespace component::registry {

class RegistryManagerStatics final
    : public platform::RuntimeObject<RegistryManagerStatics, MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics,
                                     IActivationFactory> {
public:
    static constexpr const char16_t* kRuntimeClassName = MorvalaFrameworkUiWinPRT::FactoryClass_RegistryManager;

    explicit RegistryManagerStatics(platform::ModuleCounter& module) : RuntimeObject(module) {}

    // IActivationFactory: E_NOTIMPL with *instance null.
    HRESULT ActivateInstance(IInspectable** instance) override;

    // __IRegistryManagerStatics, in slot order.
    HRESULT SetDisconnectionLoggingNeeded(boolean value, boolean* result) override;
    HRESULT GetDeviceValues(HSTRING deviceId, IMap_String_String** result) override;
    HRESULT SetDeviceValue(HSTRING deviceId, HSTRING valueName, HSTRING value) override;
    HRESULT SetBrightnessValue(HSTRING valueName, HSTRING value) override;
    HRESULT GetDeviceIds(IVector_String** result) override;
    HRESULT GetRegistryValue(HSTRING keyPath, HSTRING valueName, INT32* found, HSTRING* result) override;
    HRESULT GetInstance(MorvalaFrameworkUiWinPRT::__IRegistryManagerPublicNonVirtuals** result) override;
    HRESULT DeleteDevice(HSTRING deviceId) override;
    HRESULT GetDisconnectionLoggingNeeded(boolean* result) override;
    HRESULT add_GPSLoggingSettingsChanged(MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback* handler,
                                          EventRegistrationToken* token) override;
    HRESULT remove_GPSLoggingSettingsChanged(EventRegistrationToken token) override;
    HRESULT SetAccessoriesVersion(HSTRING version) override;
    HRESULT DeviceExists(HSTRING deviceId, boolean* result) override;

private:
    ~RegistryManagerStatics() override = default;
};

}  // namespace component::registry
