// Calls over TCP on 127.0.0.1 with the platform's client runtime, without a
// security check (TCP gives none): how a test asks a daemon what it received
// when the secured local binding is refused on purpose.
#pragma once

#include <string>

#include "contracts/connection_service.h"
#include "platform/rpc.h"

namespace morvala::test {

// A bound TCP binding to the connection service on `port`; null on failure.
inline platform::UniqueRpcBinding BindConnectionServiceOverTcp(int port) {
    std::u16string endpoint;
    for (char c : std::to_string(port)) endpoint += static_cast<char16_t>(c);
    RPC_BINDING_HANDLE_TEMPLATE_V1_W bindingTemplate{};
    bindingTemplate.Version = 1;
    bindingTemplate.ProtocolSequence = RPC_PROTSEQ_TCP;
    bindingTemplate.StringEndpoint = endpoint.data();
    platform::UniqueRpcBinding binding;
    if (RpcBindingCreateW(&bindingTemplate, nullptr, nullptr, binding.put()) != RPC_S_OK) return {};
    if (RpcBindingBind(nullptr, binding.get(), contracts::ConnectionServiceIfHandle()) != RPC_S_OK) return {};
    return binding;
}

}  // namespace morvala::test
