#include "endpoint.h"

#include <cstdint>

#include "platform/deviceroot.h"

namespace platform::rpc {

std::string RpcFolder() { return DeviceRoot() + "/rpc"; }

namespace {

// Appends value as `digits` lower-case hex digits.
void AppendHex(std::string& out, uint32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xf]);
}

}  // namespace

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx_<major>.<minor>"; formatted by hand,
// as every call's endpoint lookup makes it.
std::string EndpointNameOf(const RPC_SYNTAX_IDENTIFIER& id) {
    const GUID& g = id.SyntaxGUID;
    std::string text;
    text.reserve(48);
    AppendHex(text, g.Data1, 8);
    text.push_back('-');
    AppendHex(text, g.Data2, 4);
    text.push_back('-');
    AppendHex(text, g.Data3, 4);
    text.push_back('-');
    for (int k = 0; k < 8; ++k) {
        if (k == 2) text.push_back('-');
        AppendHex(text, g.Data4[k], 2);
    }
    text.push_back('_');
    text += std::to_string(id.SyntaxVersion.MajorVersion);
    text.push_back('.');
    text += std::to_string(id.SyntaxVersion.MinorVersion);
    return text;
}

std::string LocalEndpointPath(const std::string& endpoint, const RPC_SYNTAX_IDENTIFIER& id) {
    if (endpoint.empty()) return RpcFolder().append("/").append(EndpointNameOf(id));
    if (endpoint.front() == '/') return endpoint;
    return RpcFolder() + "/" + endpoint;
}

}  // namespace platform::rpc
