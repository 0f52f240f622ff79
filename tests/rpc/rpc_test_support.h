// Fixtures shared by the RPC tests: a fresh device root per test, hex
// helpers, and bindings made the way the component makes them.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rpc.h"
#include "platform/security.h"

namespace rpctest {

// A fresh device root (MORVALA_ROOT) for the life of the object.
class TempDeviceRoot {
public:
    TempDeviceRoot() {
        char pattern[] = "/tmp/morvala-rpc-XXXXXX";
        path_ = ::mkdtemp(pattern);
        ::setenv("MORVALA_ROOT", path_.c_str(), 1);
    }
    ~TempDeviceRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
        ::unsetenv("MORVALA_ROOT");
    }
    const std::string& path() const { return path_; }
    std::string RpcFolder() const { return path_ + "/rpc"; }

private:
    std::string path_;
};

inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
    }
    for (size_t k = 0; k + 1 < digits.size(); k += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(k, 2), nullptr, 16)));
    }
    return bytes;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

// What a binding asks for.
struct BindingRequest {
    ULONG protocolSequence = RPC_PROTSEQ_LRPC;
    std::u16string address;   // empty: none
    std::u16string endpoint;  // empty: none
    ULONG authnLevel = RPC_C_AUTHN_LEVEL_PKT_PRIVACY;
    bool withServerDescriptor = true;
    ULONG callTimeoutMs = 0;
};

// Creates a binding with the component's records (template, security,
// quality of service with the "InteropRPC\Server" descriptor). Returns the
// status of RpcBindingCreateW; the descriptor is released before returning.
inline RPC_STATUS CreateBinding(const BindingRequest& request, RPC_BINDING_HANDLE* handle) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (request.withServerDescriptor &&
        QueryTransientObjectSecurityDescriptor(9, u"InteropRPC\\Server", &descriptor) != 0) {
        return RPC_S_ACCESS_DENIED;
    }
    std::u16string address = request.address, endpoint = request.endpoint;
    RPC_BINDING_HANDLE_TEMPLATE_V1_W templ{};
    templ.Version = 1;
    templ.ProtocolSequence = request.protocolSequence;
    templ.NetworkAddress = address.empty() ? nullptr : address.data();
    templ.StringEndpoint = endpoint.empty() ? nullptr : endpoint.data();
    RPC_SECURITY_QOS_V5_W qos{};
    qos.Version = 5;
    qos.ImpersonationType = RPC_C_IMP_LEVEL_IDENTIFY;
    qos.ServerSecurityDescriptor = descriptor;
    RPC_BINDING_HANDLE_SECURITY_V1_W security{};
    security.Version = 1;
    security.AuthnLevel = request.authnLevel;
    security.AuthnSvc = RPC_C_AUTHN_WINNT;
    security.SecurityQos = reinterpret_cast<RPC_SECURITY_QOS*>(&qos);
    RPC_BINDING_HANDLE_OPTIONS_V1 options{1, 0, RPC_C_BINDING_MIN_TIMEOUT, request.callTimeoutMs};
    RPC_STATUS status = RpcBindingCreateW(&templ, &security, request.callTimeoutMs != 0 ? &options : nullptr, handle);
    FreeTransientObjectSecurityDescriptor(descriptor);
    return status;
}

// Creates and binds; returns the bind status (the handle is freed on failure).
inline RPC_STATUS CreateAndBind(const BindingRequest& request, RPC_IF_HANDLE iface, RPC_BINDING_HANDLE* handle) {
    RPC_STATUS status = CreateBinding(request, handle);
    if (status != RPC_S_OK) return status;
    status = RpcBindingBind(nullptr, *handle, iface);
    if (status != RPC_S_OK) RpcBindingFree(handle);
    return status;
}

inline size_t OpenFileDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

}  // namespace rpctest
