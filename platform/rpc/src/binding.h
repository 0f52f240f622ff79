// The client's binding objects behind RPC_BINDING_HANDLE, and the registry of
// live handles that lets every entry point refuse a null, freed or foreign
// handle instead of following it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/rpc.h"
#include "platform/security.h"
#include "transport.h"

namespace platform::rpc {

// The largest fragment the client sends or accepts.
constexpr uint16_t kClientMaxFragment = 5840;
// How long a connect may wait (a Unix socket whose backlog is full).
constexpr int kConnectTimeoutMs = 2000;
// Largest reassembled response, and most fragments in one.
constexpr size_t kMaxResponseBytes = 4u << 20;
constexpr size_t kMaxResponseFragments = 4096;

struct Binding {
    std::mutex lock;  // one call at a time per binding

    // From the records at creation.
    ULONG protocolSequence = RPC_PROTSEQ_LRPC;
    std::string endpoint;          // UTF-8; empty: resolved from the interface
    uint32_t tcpAddress = 0;       // host order
    uint16_t tcpPort = 0;
    ULONG authnLevel = RPC_C_AUTHN_LEVEL_NONE;
    bool checkServer = false;      // a server descriptor was given
    MORVALA_SECURITY_DESCRIPTOR serverDescriptor{};
    unsigned comTimeout = RPC_C_BINDING_DEFAULT_TIMEOUT;
    ULONG callTimeoutMs = 0;

    // After a successful bind.
    transport::UniqueFd socket;
    transport::PduReader reader;  // the socket's incoming PDUs
    bool bound = false;
    bool broken = false;  // the connection failed mid-call; no further calls
    RPC_SYNTAX_IDENTIFIER interfaceId{};
    uint16_t contextId = 0;
    uint16_t sendFragment = kClientMaxFragment;
    uint32_t nextCallId = 1;

    // How long to wait for each PDU of a reply.
    int ReplyTimeoutMs() const;
};

// Adds a new binding and returns its handle.
RPC_BINDING_HANDLE RegisterBinding(std::shared_ptr<Binding> binding);
// The binding of a live handle, or null.
std::shared_ptr<Binding> FindBinding(RPC_BINDING_HANDLE handle);
// Removes a handle; returns its binding, or null when it was not live.
std::shared_ptr<Binding> UnregisterBinding(RPC_BINDING_HANDLE handle);

}  // namespace platform::rpc
