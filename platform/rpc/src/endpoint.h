// Where local RPC endpoints live: one socket per interface in the device
// root's RPC folder, named by the interface id and version.
#pragma once

#include <string>

#include "platform/rpc.h"

namespace platform::rpc {

// <DeviceRoot()>/rpc, read anew on every call.
std::string RpcFolder();

// "9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa_1.0": lowercase id, major.minor.
std::string EndpointNameOf(const RPC_SYNTAX_IDENTIFIER& id);

// The socket path a local binding's endpoint names: the interface's own name
// when endpoint is empty, an absolute path as it is, else a name in RpcFolder().
std::string LocalEndpointPath(const std::string& endpoint, const RPC_SYNTAX_IDENTIFIER& id);

}  // namespace platform::rpc
