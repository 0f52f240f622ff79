// The brightness member.
#include "platform/errors.h"
#include "registry_members.h"

namespace component::registry {

void SetBrightnessValue(HSTRING, HSTRING) { throw platform::NotImplementedException(); }

}  // namespace component::registry
