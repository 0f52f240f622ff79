// The accessory device members and the accessories version.
#include "platform/collections.h"
#include "platform/errors.h"
#include "registry_members.h"

namespace component::registry {

platform::ComPtr<IMap_String_String> GetDeviceValues(HSTRING) { throw platform::NotImplementedException(); }

void SetDeviceValue(HSTRING, HSTRING, HSTRING) { throw platform::NotImplementedException(); }

platform::ComPtr<IVector_String> GetDeviceIds() { throw platform::NotImplementedException(); }

void DeleteDevice(HSTRING) { throw platform::NotImplementedException(); }

void SetAccessoriesVersion(HSTRING) { throw platform::NotImplementedException(); }

bool DeviceExists(HSTRING) { throw platform::NotImplementedException(); }

}  // namespace component::registry
