// Each slot of the statics interface runs its member routine (registry_members.h)
// through the boundary convention, and does nothing else.
#include "registry_manager_statics.h"

#include "host/boundary.h"
#include "host/class_table.h"
#include "host/module.h"
#include "host/object_helpers.h"
#include "platform/collections.h"
#include "registry_members.h"

namespace component::registry {

HRESULT RegistryManagerStatics::ActivateInstance(IInspectable** instance) {
    return Invoke(instance, []() -> platform::ComPtr<IInspectable> { throw platform::NotImplementedException(); });
}

HRESULT RegistryManagerStatics::SetDisconnectionLoggingNeeded(boolean value, boolean* result) {
    return Invoke(result, [&] { return registry::SetDisconnectionLoggingNeeded(value != 0); });
}

HRESULT RegistryManagerStatics::GetDeviceValues(HSTRING deviceId, IMap_String_String** result) {
    return Invoke(result, [&] { return registry::GetDeviceValues(deviceId); });
}

HRESULT RegistryManagerStatics::SetDeviceValue(HSTRING deviceId, HSTRING valueName, HSTRING value) {
    return Invoke([&] { registry::SetDeviceValue(deviceId, valueName, value); });
}

HRESULT RegistryManagerStatics::SetBrightnessValue(HSTRING valueName, HSTRING value) {
    return Invoke([&] { registry::SetBrightnessValue(valueName, value); });
}

HRESULT RegistryManagerStatics::GetDeviceIds(IVector_String** result) {
    return Invoke(result, [] { return registry::GetDeviceIds(); });
}

HRESULT RegistryManagerStatics::GetRegistryValue(HSTRING keyPath, HSTRING valueName, INT32* found, HSTRING* result) {
    return Invoke(found, result, [&] { return registry::GetRegistryValue(keyPath, valueName); });
}

HRESULT RegistryManagerStatics::GetInstance(MorvalaFrameworkUiWinPRT::__IRegistryManagerPublicNonVirtuals** result) {
    return Invoke(result, [] { return registry::GetInstance(); });
}

HRESULT RegistryManagerStatics::DeleteDevice(HSTRING deviceId) {
    return Invoke([&] { registry::DeleteDevice(deviceId); });
}

HRESULT RegistryManagerStatics::GetDisconnectionLoggingNeeded(boolean* result) {
    return Invoke(result, [] { return registry::GetDisconnectionLoggingNeeded(); });
}

HRESULT RegistryManagerStatics::add_GPSLoggingSettingsChanged(
    MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback* handler, EventRegistrationToken* token) {
    return Invoke(token, [&] { return registry::AddGPSLoggingSettingsChanged(handler); });
}

HRESULT RegistryManagerStatics::remove_GPSLoggingSettingsChanged(EventRegistrationToken token) {
    return Invoke([&] { registry::RemoveGPSLoggingSettingsChanged(token); });
}

HRESULT RegistryManagerStatics::SetAccessoriesVersion(HSTRING version) {
    return Invoke([&] { registry::SetAccessoriesVersion(version); });
}

HRESULT RegistryManagerStatics::DeviceExists(HSTRING deviceId, boolean* result) {
    return Invoke(result, [&] { return registry::DeviceExists(deviceId); });
}

}  // namespace component::registry

namespace component {

platform::ComPtr<IActivationFactory> CreateRegistryManagerFactory() {
    return AsInterface<IActivationFactory>(platform::MakeObject<registry::RegistryManagerStatics>(LiveObjects()));
}

}  // namespace component
