// The member routine of Utils' statics, without the boundary. Lives in
// utils_members.cpp.
#pragma once

namespace component::utils {

// Ends the process with exit code 0; does not return.
void ExitApplication();

}  // namespace component::utils
