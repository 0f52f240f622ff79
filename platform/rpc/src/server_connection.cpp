#include "server_connection.h"

#include <algorithm>

#include "fault_codes.h"
#include "ndr_stub.h"
#include "platform/errors.h"

namespace platform::rpc {

namespace {

using transport::Io;

// Smallest fragment size the server agrees to: small enough for any client,
// large enough that each fragment carries stub bytes.
constexpr uint16_t kMinFragment = 512;
constexpr size_t kMaxRequestFragments = 4096;

// Bind-time feature negotiation offers a transfer syntax 6cb71c2c-9812-4540-xxxx.
bool IsFeatureNegotiation(const RPC_SYNTAX_IDENTIFIER& syntax) {
    const GUID& g = syntax.SyntaxGUID;
    return g.Data1 == 0x6cb71c2c && g.Data2 == 0x9812 && g.Data3 == 0x4540;
}

bool Offers(const wire::ContextElement& context, const RPC_SYNTAX_IDENTIFIER& syntax) {
    return std::any_of(context.transferSyntaxes.begin(), context.transferSyntaxes.end(),
                       [&](const auto& offered) { return wire::SameSyntax(offered, syntax); });
}

// Same id and major version; the client's minor version may be lower.
bool Serves(const RPC_SYNTAX_IDENTIFIER& ours, const RPC_SYNTAX_IDENTIFIER& asked) {
    return ours.SyntaxGUID == asked.SyntaxGUID && ours.SyntaxVersion.MajorVersion == asked.SyntaxVersion.MajorVersion &&
           ours.SyntaxVersion.MinorVersion >= asked.SyntaxVersion.MinorVersion;
}

wire::ContextResult Rejection(uint16_t reason) { return wire::ContextResult{wire::kProviderRejection, reason, {}}; }

}  // namespace

ServerConnection::ServerConnection(const ServerShared& shared, transport::UniqueFd socket, CallerIdentity caller,
                                   std::string secondaryAddress)
    : shared_(shared), socket_(std::move(socket)), caller_(caller), secondaryAddress_(std::move(secondaryAddress)) {}

ServerConnection::ServerConnection(const ServerShared& shared, transport::UniqueFd socket, Accepted accepted,
                                   std::string secondaryAddress)
    : shared_(shared),
      socket_(std::move(socket)),
      settled_(false),
      identifyCaller_(accepted.local),
      secondaryAddress_(std::move(secondaryAddress)) {}

void ServerConnection::Settle() {
    settled_ = true;
    struct ucred peer {};
    if (identifyCaller_ && transport::PeerCredentials(socket_.get(), peer)) {
        caller_ = CallerIdentity{peer.uid, peer.gid, peer.pid, true};
    }
}

void ServerConnection::Serve() {
    using Arrival = transport::PduReader::Arrival;
    std::vector<uint8_t> pdu;
    for (;;) {
        wire::Header header;
        uint16_t limit = bound_ ? fragment_ : shared_.options->maxFragment;
        // The client sends its bind as it connects, so the first PDU is
        // usually there already; every later one answers what this side sent.
        Arrival arrival = settled_ ? Arrival::Awaited : Arrival::Likely;
        Io io = reader_.Read(socket_.get(), limit, shared_.options->idleTimeoutMs, shared_.stopFd, arrival, pdu,
                             header);
        if (io != Io::Ok || !HandlePdu(pdu, header)) break;
        // A request is dispatched only after a bind, so the caller is
        // identified before any handler runs.
        if (!settled_) Settle();
    }
}

bool ServerConnection::HandlePdu(const std::vector<uint8_t>& pdu, const wire::Header& header) {
    if (pending_.active && header.type != wire::kRequest) {
        SendFault(header.callId, pending_.contextId, kNcaProtocolError, false);
        return false;
    }
    switch (header.type) {
        case wire::kBind: return HandleBind(pdu, header);
        case wire::kAlterContext: return HandleAlterContext(pdu, header);
        case wire::kRequest: return HandleRequestFragment(pdu, header);
        case wire::kOrphaned:
        case wire::kCoCancel: return true;  // nothing is cancelled: calls run to their end
        default: return false;
    }
}

wire::ContextResult ServerConnection::Accept(const wire::ContextElement& context) {
    if (context.transferSyntaxes.size() == 1 && IsFeatureNegotiation(context.transferSyntaxes[0])) {
        return wire::ContextResult{wire::kNegotiateAck, 0, {}};  // no optional feature is supported
    }
    const auto& interfaces = *shared_.interfaces;
    for (size_t k = 0; k < interfaces.size(); ++k) {
        if (!Serves(interfaces[k].id, context.abstractSyntax)) continue;
        if (!Offers(context, kNdr20TransferSyntax)) return Rejection(wire::kTransferSyntaxesNotSupported);
        contexts_[context.contextId] = k;
        return wire::ContextResult{wire::kAcceptance, 0, kNdr20TransferSyntax};
    }
    return Rejection(wire::kAbstractSyntaxNotSupported);
}

std::vector<wire::ContextResult> ServerConnection::AcceptAll(const wire::BindBody& body) {
    std::vector<wire::ContextResult> results;
    for (const auto& context : body.contexts) results.push_back(Accept(context));
    return results;
}

wire::BindAckBody ServerConnection::AckFor(std::vector<wire::ContextResult> results, bool withAddress) const {
    wire::BindAckBody ack;
    ack.maxXmitFrag = fragment_;
    ack.maxRecvFrag = fragment_;
    ack.assocGroupId = shared_.assocGroupId;
    if (withAddress) ack.secondaryAddress = secondaryAddress_;
    ack.results = std::move(results);
    return ack;
}

bool ServerConnection::HandleBind(const std::vector<uint8_t>& pdu, const wire::Header& header) {
    wire::BindBody body;
    if (bound_) {
        Send(wire::EncodeBindNak(header.callId, wire::kNakNotSpecified));  // one bind per connection
        return false;
    }
    if (!wire::DecodeBind(pdu, body) || body.contexts.empty()) {
        Send(wire::EncodeBindNak(header.callId, wire::kNakProtocolVersionNotSupported));
        return false;
    }
    uint16_t offered = std::min(body.maxXmitFrag, body.maxRecvFrag);
    fragment_ = static_cast<uint16_t>(std::max(std::min(offered, shared_.options->maxFragment), kMinFragment) & ~7u);
    bound_ = true;
    auto ack = wire::EncodeBindAck(wire::kBindAck, header.callId, AckFor(AcceptAll(body), true));
    if (ack.size() > fragment_) {
        // So many contexts that their answer would not fit one fragment.
        Send(wire::EncodeBindNak(header.callId, wire::kNakLocalLimitExceeded));
        return false;
    }
    return Send(ack);
}

bool ServerConnection::HandleAlterContext(const std::vector<uint8_t>& pdu, const wire::Header& header) {
    wire::BindBody body;
    if (!bound_ || !wire::DecodeBind(pdu, body) || body.contexts.empty()) return false;
    auto answer = wire::EncodeBindAck(wire::kAlterContextResp, header.callId, AckFor(AcceptAll(body), false));
    return answer.size() <= fragment_ && Send(answer);  // an answer longer than a fragment closes instead
}

bool ServerConnection::HandleRequestFragment(const std::vector<uint8_t>& pdu, const wire::Header& header) {
    wire::RequestBody body;
    bool first = (header.flags & wire::kFirstFrag) != 0;
    bool inSequence = first ? !pending_.active : pending_.active && pending_.callId == header.callId;
    if (!bound_ || !wire::DecodeRequest(pdu, header.flags, body) || !inSequence ||
        pending_.fragments >= kMaxRequestFragments) {
        SendFault(header.callId, body.contextId, kNcaProtocolError, false);
        return false;
    }
    if (first) pending_ = PendingRequest{true, header.callId, body.contextId, body.opnum, 0, {}};
    if (pending_.stub.size() + body.stubSize > shared_.options->maxRequestBytes) {
        SendFault(header.callId, pending_.contextId, RPC_S_ACCESS_DENIED, false);
        return false;
    }
    pending_.stub.insert(pending_.stub.end(), body.stub, body.stub + body.stubSize);
    ++pending_.fragments;
    if ((header.flags & wire::kLastFrag) == 0) return true;
    PendingRequest done = std::move(pending_);
    pending_ = PendingRequest{};
    return Dispatch(done.callId, done.contextId, done.opnum, done.stub);
}

RPC_STATUS ServerConnection::RunHandler(const RpcHandler& handler, RpcCall& call) const {
    try {
        return handler(call);
    } catch (const RpcException& error) {
        return error.rpcStatus();
    } catch (...) {
        return RPC_S_CALL_FAILED;
    }
}

bool ServerConnection::Dispatch(uint32_t callId, uint16_t contextId, uint16_t opnum, const std::vector<uint8_t>& stub) {
    auto context = contexts_.find(contextId);
    if (context == contexts_.end()) return SendFault(callId, contextId, kNcaUnknownInterface, false);
    const RegisteredInterface& iface = (*shared_.interfaces)[context->second];
    if (opnum >= iface.shapes.size() || !iface.handlers[opnum]) {
        return SendFault(callId, contextId, kNcaOpRangeError, false);
    }
    const ProcedureShape& shape = iface.shapes[opnum];
    RpcCall call;
    call.caller = caller_;
    call.opnum = opnum;
    if (DecodeServerRequest(shape, stub.data(), stub.size(), call.args) != RPC_S_OK) {
        return SendFault(callId, contextId, FaultFromStatus(RPC_X_BAD_STUB_DATA), false);
    }
    RPC_STATUS status = RunHandler(iface.handlers[opnum], call);
    if (call.dropConnection) return false;
    if (status != RPC_S_OK) return SendFault(callId, contextId, FaultFromStatus(status), true);
    if (call.rawResponseStub) return Respond(callId, contextId, *call.rawResponseStub);
    std::vector<uint8_t> response;
    if (EncodeServerResponse(shape, call, response) != RPC_S_OK) {
        return SendFault(callId, contextId, FaultFromStatus(RPC_X_BAD_STUB_DATA), true);
    }
    return Respond(callId, contextId, response);
}

bool ServerConnection::Respond(uint32_t callId, uint16_t contextId, const std::vector<uint8_t>& stub) {
    for (const auto& fragment : wire::FragmentResponse(callId, contextId, stub, fragment_)) {
        if (!Send(fragment)) return false;
    }
    return true;
}

bool ServerConnection::SendFault(uint32_t callId, uint16_t contextId, uint32_t status, bool executed) {
    uint8_t flags = static_cast<uint8_t>(wire::kSingleFrag | (executed ? 0 : wire::kDidNotExecute));
    return Send(wire::EncodeFault(callId, flags, contextId, status));
}

bool ServerConnection::Send(const std::vector<uint8_t>& pdu) {
    return transport::SendAll(socket_.get(), pdu, shared_.options->idleTimeoutMs, shared_.stopFd) == Io::Ok;
}

}  // namespace platform::rpc
