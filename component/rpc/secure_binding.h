// The secured local RPC binding that both service clients make: a binding to
// the service of one interface over local RPC, whose server must be admitted
// by the security descriptor of the transient object "InteropRPC\Server".
#pragma once

#include "platform/rpc.h"

namespace morvala::rpc {

// Creates and binds a binding to the service of `interfaceHandle` (an
// RPC_CLIENT_INTERFACE*), with privacy, the caller's own identity, identify
// level, and the server descriptor of "InteropRPC\Server"; sets its
// communication timeout to the minimum.
// Returns the bound handle, owned by the caller (free it with RpcBindingFree),
// or null when the descriptor, the binding or the bind could not be had; on
// that path every resource obtained is released again.
RPC_BINDING_HANDLE CreateSecureBinding(RPC_IF_HANDLE interfaceHandle) noexcept;

}  // namespace morvala::rpc
