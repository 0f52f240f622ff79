#include "utils_members.h"

#include "platform/errors.h"

namespace component::utils {

void ExitApplication() { throw platform::NotImplementedException(); }

}  // namespace component::utils
