// The general single-value reader.
#include "platform/errors.h"
#include "registry_members.h"

namespace component::registry {

std::pair<INT32, platform::UniqueHString> GetRegistryValue(HSTRING, HSTRING) {
    throw platform::NotImplementedException();
}

}  // namespace component::registry
