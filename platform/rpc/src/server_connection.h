// One accepted connection of the server: its presentation contexts, the
// request being reassembled, and the dispatch of complete requests to the
// registered handlers. Runs on one worker thread until the peer leaves, the
// connection breaks the protocol or stays idle too long, or the server stops.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pdu.h"
#include "platform/rpc_server.h"
#include "procedure.h"
#include "transport.h"

namespace platform::rpc {

struct RegisteredInterface {
    RPC_SYNTAX_IDENTIFIER id{};
    std::vector<ProcedureShape> shapes;
    std::vector<RpcHandler> handlers;
};

// What every connection of one server shares; read-only while serving.
struct ServerShared {
    const RpcServerOptions* options = nullptr;
    const std::vector<RegisteredInterface>* interfaces = nullptr;
    int stopFd = -1;
    uint32_t assocGroupId = 1;
};

class ServerConnection {
public:
    // A connection whose caller is known.
    ServerConnection(const ServerShared& shared, transport::UniqueFd socket, CallerIdentity caller,
                     std::string secondaryAddress);
    // A connection just accepted: on a local socket the caller is identified
    // from the kernel's record of it once the first PDU (the bind) is
    // answered, while the client reads the answer.
    struct Accepted {
        bool local = true;
    };
    ServerConnection(const ServerShared& shared, transport::UniqueFd socket, Accepted accepted,
                     std::string secondaryAddress);

    // Serves PDUs until the connection ends, whatever the socket's blocking
    // mode. The socket closes with the connection object.
    void Serve();

private:
    struct PendingRequest {
        bool active = false;
        uint32_t callId = 0;
        uint16_t contextId = 0;
        uint16_t opnum = 0;
        size_t fragments = 0;
        std::vector<uint8_t> stub;
    };

    // Each returns false when the connection must close.
    bool HandlePdu(const std::vector<uint8_t>& pdu, const wire::Header& header);
    bool HandleBind(const std::vector<uint8_t>& pdu, const wire::Header& header);
    bool HandleAlterContext(const std::vector<uint8_t>& pdu, const wire::Header& header);
    bool HandleRequestFragment(const std::vector<uint8_t>& pdu, const wire::Header& header);
    bool Dispatch(uint32_t callId, uint16_t contextId, uint16_t opnum, const std::vector<uint8_t>& stub);
    bool Respond(uint32_t callId, uint16_t contextId, const std::vector<uint8_t>& stub);
    bool SendFault(uint32_t callId, uint16_t contextId, uint32_t status, bool executed);
    bool Send(const std::vector<uint8_t>& pdu);
    // Identifies the caller of an accepted connection.
    void Settle();

    wire::ContextResult Accept(const wire::ContextElement& context);
    std::vector<wire::ContextResult> AcceptAll(const wire::BindBody& body);
    wire::BindAckBody AckFor(std::vector<wire::ContextResult> results, bool withAddress) const;
    RPC_STATUS RunHandler(const RpcHandler& handler, RpcCall& call) const;

    const ServerShared& shared_;
    transport::UniqueFd socket_;
    transport::PduReader reader_;
    CallerIdentity caller_;
    bool settled_ = true;       // false: Settle has yet to run
    bool identifyCaller_ = false;
    std::string secondaryAddress_;
    bool bound_ = false;
    uint16_t fragment_ = 0;
    std::map<uint16_t, size_t> contexts_;  // accepted context id -> interface index
    PendingRequest pending_;
};

}  // namespace platform::rpc
