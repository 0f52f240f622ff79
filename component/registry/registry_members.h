// The member routines of RegistryManager's statics: the work of each member,
// without the boundary (the statics' slots wrap them). A routine returns its
// result and raises the runtime's error kinds for failures that reach the
// caller as status codes.
//
// Where each routine lives:
//   registry_value.cpp   GetRegistryValue
//   device_settings.cpp  GetDeviceValues, SetDeviceValue, GetDeviceIds,
//                        DeleteDevice, SetAccessoriesVersion, DeviceExists
//   brightness.cpp       SetBrightnessValue
//   logging_flag.cpp     Set/GetDisconnectionLoggingNeeded and the event accessors
//   shared_instance.cpp  GetInstance
#pragma once

#include <utility>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/comptr.h"
#include "platform/winstring.h"

namespace component::registry {

// Slot 0: true when the flag was written; raises GPSLoggingSettingsChanged.
bool SetDisconnectionLoggingNeeded(bool value);
// Slot 1: a new map of the device's values, owned by the caller.
platform::ComPtr<IMap_String_String> GetDeviceValues(HSTRING deviceId);
// Slot 2.
void SetDeviceValue(HSTRING deviceId, HSTRING valueName, HSTRING value);
// Slot 3.
void SetBrightnessValue(HSTRING valueName, HSTRING value);
// Slot 4: a new vector of device ids, owned by the caller.
platform::ComPtr<IVector_String> GetDeviceIds();
// Slot 5: {found, text}: {1, the value's units} or {0, "no key"}.
std::pair<INT32, platform::UniqueHString> GetRegistryValue(HSTRING keyPath, HSTRING valueName);
// Slot 6: the shared instance, one more reference for the caller.
platform::ComPtr<MorvalaFrameworkUiWinPRT::__IRegistryManagerPublicNonVirtuals> GetInstance();
// Slot 7.
void DeleteDevice(HSTRING deviceId);
// Slot 8.
bool GetDisconnectionLoggingNeeded();
// Slot 9: the new registration's token.
EventRegistrationToken AddGPSLoggingSettingsChanged(MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback* handler);
// Slot 10.
void RemoveGPSLoggingSettingsChanged(EventRegistrationToken token);
// Slot 11.
void SetAccessoriesVersion(HSTRING version);
// Slot 12.
bool DeviceExists(HSTRING deviceId);

}  // namespace component::registry
