#include "endpoint.h"

#include <cstdio>

#include "platform/deviceroot.h"

namespace platform::rpc {

std::string RpcFolder() { return DeviceRoot() + "/rpc"; }

std::string EndpointNameOf(const RPC_SYNTAX_IDENTIFIER& id) {
    const GUID& g = id.SyntaxGUID;
    char text[64];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x_%u.%u", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7], id.SyntaxVersion.MajorVersion, id.SyntaxVersion.MinorVersion);
    return text;
}

std::string LocalEndpointPath(const std::string& endpoint, const RPC_SYNTAX_IDENTIFIER& id) {
    if (endpoint.empty()) return RpcFolder() + "/" + EndpointNameOf(id);
    if (endpoint.front() == '/') return endpoint;
    return RpcFolder() + "/" + endpoint;
}

}  // namespace platform::rpc
