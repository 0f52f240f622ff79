// Load step 1: the runtime support's per-module data. Here that is the
// storage of the exit-handler list, set aside before any other step registers
// its teardown; its release is the first handler registered and so the last
// to run at unload. If the storage cannot be had, the library refuses to load.
#include "exit_handlers.h"
#include "load_steps.h"

namespace component {
namespace {

// Room for the host's, the event storage's and the shared instance's
// teardowns, with spare; more registrations simply grow the list.
constexpr size_t kExpectedExitHandlers = 8;

bool InitializePerModuleData() {
    if (!CreateExitHandlerStorage(kExpectedExitHandlers)) return false;
    RegisterExitHandler(ReleaseExitHandlerStorage);  // within the room just set aside
    return true;
}

LoadStep perModuleDataStep{LoadStage::PerModuleData, InitializePerModuleData};

}  // namespace
}  // namespace component
