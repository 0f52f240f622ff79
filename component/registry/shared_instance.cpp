// The one shared RegistryManager instance. It is made on first use, under a
// lock, and its release is registered as an exit handler at that moment, so
// that it is the first teardown to run at unload. A failure on the way leaves
// nothing made, and the next call tries again.
#include "host/exit_handlers.h"
#include "host/module.h"
#include "host/object_helpers.h"
#include "platform/combase.h"
#include "registry_manager.h"
#include "registry_members.h"

namespace component::registry {
namespace {

using InstanceInterface = MorvalaFrameworkUiWinPRT::__IRegistryManagerPublicNonVirtuals;

SRWLOCK instanceLock = SRWLOCK_INIT;
platform::ComPtr<InstanceInterface> sharedInstance;  // guarded by instanceLock
bool instanceMade = false;                           // guarded by instanceLock

void ReleaseSharedInstance() noexcept {
    platform::ComPtr<InstanceInterface> released;
    {
        platform::ExclusiveLock guard(instanceLock);
        released = std::move(sharedInstance);
        instanceMade = false;
    }
}

}  // namespace

platform::ComPtr<InstanceInterface> GetInstance() {
    platform::ExclusiveLock guard(instanceLock);
    if (!instanceMade) {
        platform::ComPtr<InstanceInterface> made =
            AsInterface<InstanceInterface>(platform::MakeObject<RegistryManager>(LiveObjects()));
        RegisterExitHandler(ReleaseSharedInstance);  // may throw; `made` is then released
        sharedInstance = std::move(made);
        instanceMade = true;
    }
    return sharedInstance;
}

}  // namespace component::registry
