#include "secure_binding.h"

#include "platform/security.h"

namespace morvala::rpc {
namespace {

constexpr WCHAR kServerObjectName[] = u"InteropRPC\\Server";

// Asks the security service for the descriptor that says who may serve RPC
// interfaces. Returns it (the caller releases it) or null on failure.
PSECURITY_DESCRIPTOR QueryServerDescriptor() noexcept {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (QueryTransientObjectSecurityDescriptor(TRANSIENT_OBJECT_TYPE_RPC_SERVER, kServerObjectName, &descriptor) != 0) {
        return nullptr;
    }
    return descriptor;
}

// Creates an unbound local RPC binding whose server must be admitted by
// `descriptor`. The three records live on this stack frame only: the runtime
// copies what it needs. Returns the handle or null.
RPC_BINDING_HANDLE CreateBinding(PSECURITY_DESCRIPTOR descriptor) noexcept {
    RPC_BINDING_HANDLE_TEMPLATE_V1_W bindingTemplate{};
    bindingTemplate.Version = 1;
    bindingTemplate.Flags = 0;
    bindingTemplate.ProtocolSequence = RPC_PROTSEQ_LRPC;
    bindingTemplate.NetworkAddress = nullptr;
    bindingTemplate.StringEndpoint = nullptr;
    bindingTemplate.u1.Reserved = nullptr;
    bindingTemplate.ObjectUuid = UUID{};

    RPC_SECURITY_QOS_V5_W qos{};
    qos.Version = 5;
    qos.Capabilities = RPC_C_QOS_CAPABILITIES_DEFAULT;
    qos.IdentityTracking = RPC_C_QOS_IDENTITY_STATIC;
    qos.ImpersonationType = RPC_C_IMP_LEVEL_IDENTIFY;
    qos.AdditionalSecurityInfoType = 0;
    qos.u.HttpCredentials = nullptr;
    qos.Sid = nullptr;
    qos.EffectiveOnly = 0;
    qos.ServerSecurityDescriptor = descriptor;

    RPC_BINDING_HANDLE_SECURITY_V1_W security{};
    security.Version = 1;
    security.ServerPrincName = nullptr;
    security.AuthnLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
    security.AuthnSvc = RPC_C_AUTHN_WINNT;
    security.AuthIdentity = nullptr;
    security.SecurityQos = reinterpret_cast<RPC_SECURITY_QOS*>(&qos);

    RPC_BINDING_HANDLE binding = nullptr;
    if (RpcBindingCreateW(&bindingTemplate, &security, nullptr, &binding) != RPC_S_OK) return nullptr;
    return binding;
}

}  // namespace

RPC_BINDING_HANDLE CreateSecureBinding(RPC_IF_HANDLE interfaceHandle) noexcept {
    PSECURITY_DESCRIPTOR descriptor = QueryServerDescriptor();
    if (descriptor == nullptr) return nullptr;

    RPC_BINDING_HANDLE binding = CreateBinding(descriptor);
    // The binding keeps its own copy of what it needs from the descriptor.
    FreeTransientObjectSecurityDescriptor(descriptor);
    if (binding == nullptr) return nullptr;

    if (RpcBindingBind(nullptr, binding, interfaceHandle) != RPC_S_OK) {
        RpcBindingFree(&binding);
        return nullptr;
    }
    RpcMgmtSetComTimeout(binding, RPC_C_BINDING_MIN_TIMEOUT);
    return binding;
}

}  // namespace morvala::rpc
