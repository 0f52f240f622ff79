#include "utils_statics.h"

#include "host/boundary.h"
#include "host/class_table.h"
#include "host/module.h"
#include "host/object_helpers.h"
#include "utils_members.h"

namespace component::utils {

HRESULT UtilsStatics::ActivateInstance(IInspectable** instance) {
    return Invoke(instance, [] { return AsInspectable(platform::MakeObject<Utils>(LiveObjects())); });
}

HRESULT UtilsStatics::ExitApplication() {
    return Invoke([] { utils::ExitApplication(); });
}

}  // namespace component::utils

namespace component {

platform::ComPtr<IActivationFactory> CreateUtilsFactory() {
    return AsInterface<IActivationFactory>(platform::MakeObject<utils::UtilsStatics>(LiveObjects()));
}

}  // namespace component
