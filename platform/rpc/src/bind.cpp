// RpcBindingBind: connect, check who serves, then bind one presentation
// context (the interface in NDR 2.0).
//
// On local RPC nothing about security travels on the wire: the kernel tells
// each side who the other is (SO_PEERCRED), so the bind carries no auth
// trailer. The client checks the server's uid against the binding's server
// descriptor before it sends a single byte.
#include <sys/socket.h>

#include <algorithm>

#include "binding.h"
#include "endpoint.h"
#include "pdu.h"
#include "transport.h"

namespace platform::rpc {

namespace {

using transport::Io;
using transport::UniqueFd;

RPC_STATUS Connect(const Binding& binding, const RPC_SYNTAX_IDENTIFIER& id, UniqueFd& socket) {
    if (binding.protocolSequence == RPC_PROTSEQ_TCP) {
        return transport::ConnectTcp(binding.tcpAddress, binding.tcpPort, kConnectTimeoutMs, socket);
    }
    return transport::ConnectLocal(LocalEndpointPath(binding.endpoint, id), kConnectTimeoutMs, socket);
}

// Only on local RPC: the server's uid, from the kernel, must be one the
// descriptor admits.
RPC_STATUS CheckServer(const Binding& binding, int socket) {
    if (!binding.checkServer || binding.protocolSequence != RPC_PROTSEQ_LRPC) return RPC_S_OK;
    struct ucred peer {};
    if (!transport::PeerCredentials(socket, peer)) return RPC_S_ACCESS_DENIED;
    auto* descriptor = const_cast<MORVALA_SECURITY_DESCRIPTOR*>(&binding.serverDescriptor);
    return SecurityDescriptorAdmitsUid(descriptor, peer.uid) ? RPC_S_OK : RPC_S_ACCESS_DENIED;
}

std::vector<uint8_t> BindPdu(const RPC_SYNTAX_IDENTIFIER& id, uint32_t callId) {
    wire::BindBody body;
    body.maxXmitFrag = kClientMaxFragment;
    body.maxRecvFrag = kClientMaxFragment;
    body.contexts.push_back(wire::ContextElement{0, id, {kNdr20TransferSyntax}});
    return wire::EncodeBind(wire::kBind, callId, body);
}

RPC_STATUS StatusOfRejection(const wire::ContextResult& result) {
    if (result.result == wire::kAcceptance) {
        return wire::SameSyntax(result.transferSyntax, kNdr20TransferSyntax) ? RPC_S_OK : RPC_S_UNSUPPORTED_TRANS_SYN;
    }
    if (result.reason == wire::kAbstractSyntaxNotSupported) return RPC_S_UNKNOWN_IF;
    if (result.reason == wire::kTransferSyntaxesNotSupported) return RPC_S_UNSUPPORTED_TRANS_SYN;
    return RPC_S_CALL_FAILED_DNE;
}

// Reads the answer to the bind. Returns the status of the bind; on success
// fills the fragment size the server accepts.
RPC_STATUS ReadBindAnswer(int socket, transport::PduReader& reader, uint32_t callId, int timeoutMs,
                          uint16_t& sendFragment) {
    std::vector<uint8_t> pdu;
    wire::Header header;
    Io io = reader.Read(socket, kClientMaxFragment, timeoutMs, -1, transport::PduReader::Arrival::Awaited, pdu, header);
    if (io == Io::Malformed) return RPC_S_PROTOCOL_ERROR;
    if (io != Io::Ok) return RPC_S_SERVER_UNAVAILABLE;
    if (header.callId != callId) return RPC_S_PROTOCOL_ERROR;
    if (header.type == wire::kBindNak) return RPC_S_CALL_FAILED_DNE;
    wire::BindAckBody ack;
    if (header.type != wire::kBindAck || !wire::DecodeBindAck(pdu, ack) || ack.results.size() != 1) {
        return RPC_S_PROTOCOL_ERROR;
    }
    if (ack.maxRecvFrag < wire::kRequestHeaderSize + 16) return RPC_S_PROTOCOL_ERROR;
    sendFragment = std::min(ack.maxRecvFrag, kClientMaxFragment);
    return StatusOfRejection(ack.results[0]);
}

RPC_STATUS Bind(Binding& binding, const RPC_CLIENT_INTERFACE& iface) {
    if (binding.bound) return RPC_S_ALREADY_LISTENING;
    if (iface.Length != sizeof(RPC_CLIENT_INTERFACE)) return RPC_S_INVALID_ARG;
    if (!wire::SameSyntax(iface.TransferSyntax, kNdr20TransferSyntax)) return RPC_S_UNSUPPORTED_TRANS_SYN;
    // The bind is made before connecting: the service, woken by the connect,
    // then waits as little as possible for it.
    uint32_t callId = binding.nextCallId++;
    const std::vector<uint8_t> bind = BindPdu(iface.InterfaceId, callId);
    UniqueFd socket;
    if (RPC_STATUS status = Connect(binding, iface.InterfaceId, socket); status != RPC_S_OK) return status;
    if (RPC_STATUS status = CheckServer(binding, socket.get()); status != RPC_S_OK) return status;
    if (transport::SendAll(socket.get(), bind, kConnectTimeoutMs) != Io::Ok) {
        return RPC_S_SERVER_UNAVAILABLE;
    }
    uint16_t sendFragment = 0;
    int timeoutMs = std::min(binding.ReplyTimeoutMs(), kConnectTimeoutMs);  // a bind is small: never wait long
    transport::PduReader reader;
    RPC_STATUS status = ReadBindAnswer(socket.get(), reader, callId, timeoutMs, sendFragment);
    if (status != RPC_S_OK) return status;
    binding.socket = std::move(socket);
    binding.reader = std::move(reader);
    binding.interfaceId = iface.InterfaceId;
    binding.sendFragment = sendFragment;
    binding.bound = true;
    return RPC_S_OK;
}

}  // namespace

}  // namespace platform::rpc

extern "C" RPC_STATUS RpcBindingBind(PRPC_ASYNC_STATE async, RPC_BINDING_HANDLE handle, RPC_IF_HANDLE ifSpec) {
    using namespace platform::rpc;
    auto binding = FindBinding(handle);
    if (!binding) return RPC_S_INVALID_BINDING;
    if (async != nullptr || ifSpec == nullptr) return RPC_S_INVALID_ARG;
    std::lock_guard guard(binding->lock);
    return Bind(*binding, *static_cast<const RPC_CLIENT_INTERFACE*>(ifSpec));
}
