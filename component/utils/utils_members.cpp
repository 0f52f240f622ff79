#include "utils_members.h"

#include "platform/text.h"

namespace component::utils {

// The platform's immediate exit: other threads stop where they stand, the
// loaded libraries' unload sequences run, and the process ends with code 0.
// Nothing of the component is flushed or released here first.
void ExitApplication() { ExitProcess(0); }

}  // namespace component::utils
