// The platform's RPC runtime, server side. A service registers its
// interfaces (the same procedure tables its clients use) with one handler per
// procedure, then listens: on a Unix stream socket per interface in the device
// root's RPC folder, named "<interface id>_<major>.<minor>", and optionally on
// TCP 127.0.0.1 for tests with independent peers.
//
// Every request is reassembled, decoded and checked against the procedure's
// description before its handler runs; a handler sees decoded arguments and
// the caller's identity (uid, gid, pid from the kernel; identify level, the
// handler never acts as the caller). A malformed PDU closes only its own
// connection.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/rpc.h"

namespace platform::rpc {

// Who called: from SO_PEERCRED on local RPC; on TCP the kernel tells nothing,
// so uid, gid and pid are -1 there.
struct CallerIdentity {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    pid_t pid = -1;
    bool local = false;  // true on the Unix socket
};

// One parameter of a call, decoded; which fields matter depends on its kind.
struct RpcArgument {
    unsigned char direction = 0;  // RPC_FC_DIR_*
    unsigned char kind = 0;       // RPC_FC_*
    std::u16string text;          // WSTRING: the units before the terminator
    uint32_t value = 0;           // UINT32: the value; INT32_REF: the handler's output (bit pattern)
    uint32_t capacity = 0;        // COUNT_REF: the capacity the client sent, in elements
    std::vector<uint8_t> bytes;   // BYTE_ARRAY: in, the block; out, what the handler returns
    std::u16string units;         // WCHAR_ARRAY (out): what the handler returns
};

// One call as a handler sees it. The handler fills outputs in args: INT32_REF
// in value, out arrays in bytes/units. The count that sizes an out array is
// sent as that array's length; the runtime faults the call (RPC_X_BAD_STUB_DATA)
// rather than send more elements than the client's capacity. A COUNT_REF that
// sizes no array is sent as its value.
struct RpcCall {
    CallerIdentity caller;
    uint16_t opnum = 0;
    std::vector<RpcArgument> args;  // one per parameter, in call order
    int32_t returnValue = 0;        // sent when the procedure returns int32

    // For scripted test services only: send these stub bytes instead of the
    // encoded outputs (checks skipped), or close the connection instead of
    // answering.
    std::optional<std::vector<uint8_t>> rawResponseStub;
    bool dropConnection = false;
};

// A procedure's handler: RPC_S_OK sends the response; any other status sends
// a fault carrying it (RPC_S_PROCNUM_OUT_OF_RANGE, RPC_S_UNKNOWN_IF,
// RPC_S_PROTOCOL_ERROR, RPC_S_INVALID_BOUND travel as their nca codes, others
// as they are). A platform::RpcException thrown faults with its status, any
// other exception with RPC_S_CALL_FAILED. Handlers may run on several worker
// threads at once.
using RpcHandler = std::function<RPC_STATUS(RpcCall& call)>;

struct RpcServerOptions {
    bool listenLocal = true;           // sockets in <device root>/rpc (created 0755 when missing)
    std::string localFolder;           // empty: <DeviceRoot()>/rpc
    bool listenTcp = false;            // also TCP on 127.0.0.1
    uint16_t tcpPort = 0;              // 0: an ephemeral port, see TcpPort()
    unsigned workers = 4;              // connections served at the same time, per listener
    unsigned maxPendingConnections = 64;  // waiting for a worker (the listen queue); more wait in connect
    int idleTimeoutMs = 5000;          // a connection silent (or stalled mid-PDU) this long is closed
    uint16_t maxFragment = 5840;       // largest fragment either side sends
    uint32_t maxRequestBytes = 4u << 20;  // largest reassembled request stub
};

class RpcServer {
public:
    explicit RpcServer(RpcServerOptions options = {});
    ~RpcServer();  // Stop()
    RpcServer(const RpcServer&) = delete;
    RpcServer& operator=(const RpcServer&) = delete;

    // Adds an interface: its id and version, its procedure table, and one
    // handler per procedure number (an empty handler faults that procedure
    // with RPC_S_PROCNUM_OUT_OF_RANGE). Only before Start().
    // Returns RPC_S_OK; RPC_S_INVALID_ARG for a table with a malformed
    // description or the wrong number of handlers; RPC_S_ALREADY_LISTENING
    // once started; RPC_S_DUPLICATE_ENDPOINT for an interface registered twice.
    RPC_STATUS RegisterInterface(const RPC_SYNTAX_IDENTIFIER& id, const RPC_PROCEDURE_TABLE& procedures,
                                 std::vector<RpcHandler> handlers);

    // Creates the listeners and starts serving on background threads.
    // A stale socket file (nobody accepts on it) is replaced; a live one gives
    // RPC_S_DUPLICATE_ENDPOINT. Returns RPC_S_OK, RPC_S_ALREADY_LISTENING,
    // RPC_S_INVALID_ARG (nothing registered), RPC_S_ACCESS_DENIED (folder not
    // writable) or RPC_S_OUT_OF_RESOURCES. On failure nothing listens.
    RPC_STATUS Start();

    // Stops accepting, closes every connection, joins the threads and removes
    // the socket files it made. Idempotent; waits for running handlers.
    void Stop();

    // The TCP port listened on (0 when not listening on TCP).
    uint16_t TcpPort() const;

    // Paths of the local sockets listened on.
    std::vector<std::string> LocalEndpoints() const;

    // The socket name of an interface: "<lowercase id>_<major>.<minor>".
    static std::string EndpointName(const RPC_SYNTAX_IDENTIFIER& id);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::rpc
