// Binding handles: creation from the platform's records, the live-handle
// registry, communication timeouts and release.
#include "binding.h"

#include <arpa/inet.h>

#include <algorithm>

#include <cstring>
#include <map>

namespace platform::rpc {

namespace {

std::mutex g_registryLock;
std::map<RPC_BINDING_HANDLE, std::shared_ptr<Binding>> g_live;

constexpr int kTimeoutStepMs = 2000;
constexpr int kLongestTimeoutMs = 60000;

// ASCII UTF-16 to a narrow string; false for anything else.
bool Narrow(const WCHAR* text, std::string& out) {
    out.clear();
    if (text == nullptr) return true;
    for (; *text != 0; ++text) {
        if (*text > 0x7e || *text < 0x20) return false;
        out.push_back(static_cast<char>(*text));
    }
    return true;
}

bool IsNil(const UUID& uuid) {
    static constexpr UUID kNil{};
    return uuid == kNil;
}

RPC_STATUS ReadTcpAddress(const WCHAR* address, const WCHAR* endpoint, Binding& binding) {
    std::string host, port;
    if (!Narrow(address, host)) return RPC_S_INVALID_NET_ADDR;
    if (!Narrow(endpoint, port) || port.empty() || port.size() > 5) return RPC_S_INVALID_ENDPOINT_FORMAT;
    if (host.empty() || host == "localhost") host = "127.0.0.1";
    in_addr parsed{};
    if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) return RPC_S_INVALID_NET_ADDR;
    binding.tcpAddress = ntohl(parsed.s_addr);
    unsigned long number = 0;
    for (char digit : port) {
        if (digit < '0' || digit > '9') return RPC_S_INVALID_ENDPOINT_FORMAT;
        number = number * 10 + static_cast<unsigned long>(digit - '0');
    }
    if (number == 0 || number > 65535) return RPC_S_INVALID_ENDPOINT_FORMAT;
    binding.tcpPort = static_cast<uint16_t>(number);
    return RPC_S_OK;
}

RPC_STATUS ReadTemplate(const RPC_BINDING_HANDLE_TEMPLATE_V1_W& templ, Binding& binding) {
    if (templ.Version != 1 || templ.Flags != 0 || !IsNil(templ.ObjectUuid)) return RPC_S_INVALID_ARG;
    binding.protocolSequence = templ.ProtocolSequence;
    if (templ.ProtocolSequence == RPC_PROTSEQ_TCP) return ReadTcpAddress(templ.NetworkAddress, templ.StringEndpoint, binding);
    if (templ.ProtocolSequence != RPC_PROTSEQ_LRPC) return RPC_S_PROTSEQ_NOT_SUPPORTED;
    if (templ.NetworkAddress != nullptr && templ.NetworkAddress[0] != 0) return RPC_S_INVALID_NET_ADDR;  // this machine only
    return Narrow(templ.StringEndpoint, binding.endpoint) ? RPC_S_OK : RPC_S_INVALID_ENDPOINT_FORMAT;
}

RPC_STATUS ReadQos(const RPC_SECURITY_QOS& qos, Binding& binding) {
    if (qos.Version < 1 || qos.Version > 5) return RPC_S_INVALID_ARG;
    if (qos.Version < 5) return RPC_S_OK;
    const auto& v5 = reinterpret_cast<const RPC_SECURITY_QOS_V5_W&>(qos);
    if (v5.ServerSecurityDescriptor == nullptr) return RPC_S_OK;
    if (!IsValidMorvalaSecurityDescriptor(v5.ServerSecurityDescriptor)) return RPC_S_INVALID_ARG;
    std::memcpy(&binding.serverDescriptor, v5.ServerSecurityDescriptor, sizeof binding.serverDescriptor);
    binding.checkServer = true;
    return RPC_S_OK;
}

RPC_STATUS ReadSecurity(const RPC_BINDING_HANDLE_SECURITY_V1_W& security, Binding& binding) {
    if (security.Version != 1 || security.AuthIdentity != nullptr) return RPC_S_INVALID_ARG;
    if (security.AuthnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY) return RPC_S_UNKNOWN_AUTHN_LEVEL;
    if (security.AuthnSvc != RPC_C_AUTHN_NONE && security.AuthnSvc != RPC_C_AUTHN_WINNT &&
        security.AuthnSvc != RPC_C_AUTHN_DEFAULT) {
        return RPC_S_SEC_PKG_ERROR;
    }
    binding.authnLevel = security.AuthnLevel;
    if (security.SecurityQos != nullptr) {
        if (RPC_STATUS status = ReadQos(*security.SecurityQos, binding); status != RPC_S_OK) return status;
    }
    // TCP gives neither privacy nor integrity nor the server's identity: refuse
    // a binding that asks for any of them rather than pretend.
    bool wantsMore = binding.authnLevel >= RPC_C_AUTHN_LEVEL_PKT_INTEGRITY || binding.checkServer;
    return binding.protocolSequence == RPC_PROTSEQ_TCP && wantsMore ? RPC_S_PROTSEQ_NOT_SUPPORTED : RPC_S_OK;
}

RPC_STATUS ReadOptions(const RPC_BINDING_HANDLE_OPTIONS_V1& options, Binding& binding) {
    if (options.Version != 1 || options.ComTimeout > RPC_C_BINDING_INFINITE_TIMEOUT) return RPC_S_INVALID_ARG;
    binding.comTimeout = options.ComTimeout;
    binding.callTimeoutMs = options.CallTimeout;
    return RPC_S_OK;
}

}  // namespace

int Binding::ReplyTimeoutMs() const {
    if (callTimeoutMs != 0) return static_cast<int>(std::min<ULONG>(callTimeoutMs, kLongestTimeoutMs));
    if (comTimeout >= RPC_C_BINDING_INFINITE_TIMEOUT) return kLongestTimeoutMs;
    return kTimeoutStepMs * static_cast<int>(comTimeout + 1);
}

RPC_BINDING_HANDLE RegisterBinding(std::shared_ptr<Binding> binding) {
    RPC_BINDING_HANDLE handle = binding.get();
    std::lock_guard guard(g_registryLock);
    g_live.emplace(handle, std::move(binding));
    return handle;
}

std::shared_ptr<Binding> FindBinding(RPC_BINDING_HANDLE handle) {
    std::lock_guard guard(g_registryLock);
    auto found = g_live.find(handle);
    return found != g_live.end() ? found->second : nullptr;
}

std::shared_ptr<Binding> UnregisterBinding(RPC_BINDING_HANDLE handle) {
    std::lock_guard guard(g_registryLock);
    auto found = g_live.find(handle);
    if (found == g_live.end()) return nullptr;
    auto binding = std::move(found->second);
    g_live.erase(found);
    return binding;
}

}  // namespace platform::rpc

using namespace platform::rpc;

extern "C" RPC_STATUS RpcBindingCreateW(RPC_BINDING_HANDLE_TEMPLATE_V1_W* templ,
                                        RPC_BINDING_HANDLE_SECURITY_V1_W* security,
                                        RPC_BINDING_HANDLE_OPTIONS_V1* options, RPC_BINDING_HANDLE* handle) {
    if (handle == nullptr) return RPC_S_INVALID_ARG;
    *handle = nullptr;
    if (templ == nullptr) return RPC_S_INVALID_ARG;
    auto binding = std::make_shared<Binding>();
    RPC_STATUS status = ReadTemplate(*templ, *binding);
    if (status == RPC_S_OK && security != nullptr) status = ReadSecurity(*security, *binding);
    if (status == RPC_S_OK && options != nullptr) status = ReadOptions(*options, *binding);
    if (status != RPC_S_OK) return status;
    *handle = RegisterBinding(std::move(binding));
    return RPC_S_OK;
}

extern "C" RPC_STATUS RpcMgmtSetComTimeout(RPC_BINDING_HANDLE handle, unsigned int timeout) {
    auto binding = FindBinding(handle);
    if (!binding) return RPC_S_INVALID_BINDING;
    if (timeout > RPC_C_BINDING_INFINITE_TIMEOUT) return RPC_S_INVALID_TIMEOUT;
    std::lock_guard guard(binding->lock);
    binding->comTimeout = timeout;
    return RPC_S_OK;
}

extern "C" RPC_STATUS RpcBindingFree(RPC_BINDING_HANDLE* handle) {
    if (handle == nullptr) return RPC_S_INVALID_BINDING;
    auto binding = UnregisterBinding(*handle);
    if (!binding) return RPC_S_INVALID_BINDING;
    *handle = nullptr;
    return RPC_S_OK;  // the socket closes when the last user lets go of the binding
}
