// Each slot runs its member routine (rpc_wrapper_members.h) through the
// boundary convention, and does nothing else.
#include "rpc_wrapper.h"

#include "host/boundary.h"
#include "host/class_table.h"
#include "host/module.h"
#include "host/object_helpers.h"
#include "rpc_wrapper_members.h"

namespace component::rpc {

HRESULT RpcWrapper::SendConnectionServiceText(HSTRING text) {
    return Invoke([&] { rpc::SendConnectionServiceText(text); });
}

HRESULT RpcWrapper::GetAccessoryServiceFlag(boolean* result) {
    return Invoke(result, [] { return rpc::GetAccessoryServiceFlag(); });
}

HRESULT RpcWrapper::SendAccessoryServiceTexts(HSTRING first, HSTRING second, HSTRING third, boolean* result) {
    return Invoke(result, [&] { return rpc::SendAccessoryServiceTexts(first, second, third); });
}

HRESULT RpcWrapper::SendConnectionServiceNonEmptyText(HSTRING text) {
    return Invoke([&] { rpc::SendConnectionServiceNonEmptyText(text); });
}

HRESULT RpcWrapper::CheckConnectionServiceText(HSTRING text, boolean* result) {
    return Invoke(result, [&] { return rpc::CheckConnectionServiceText(text); });
}

HRESULT RpcWrapper::GetConnectionServiceText(HSTRING* result) {
    return Invoke(result, [] { return rpc::GetConnectionServiceText(); });
}

HRESULT RpcWrapper::GetAccessoryServiceText(HSTRING* result) {
    return Invoke(result, [] { return rpc::GetAccessoryServiceText(); });
}

HRESULT RpcWrapperFactory::ActivateInstance(IInspectable** instance) {
    return Invoke(instance, [] { return AsInspectable(platform::MakeObject<RpcWrapper>(LiveObjects())); });
}

}  // namespace component::rpc

namespace component {

platform::ComPtr<IActivationFactory> CreateRpcWrapperFactory() {
    return AsInterface<IActivationFactory>(platform::MakeObject<rpc::RpcWrapperFactory>(LiveObjects()));
}

}  // namespace component
