// A stand-in for both services that answers each procedure as a test tells
// it: outputs, return value, a fault, a delay, a dropped connection, or raw
// response bytes that break the contract. It serves in the test's own
// process (background threads of the platform's RPC server) and records every
// call it receives, with the caller's identity, so tests can check what
// reached it and what did not.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/rpc_server.h"

namespace morvala::services {

enum class Service { Connection, Accessory };

// How one procedure answers. Outputs not used by the procedure are ignored.
struct Reply {
    int32_t status = 0;       // every 32-bit output (status or value)
    int32_t returnValue = 0;  // the return value, for procedures that have one
    std::vector<uint8_t> bytes{};  // the 8-bit out buffer; its size is the count sent
    std::u16string units{};      // the UTF-16 out buffer; its size is the count sent
    RPC_STATUS fault = RPC_S_OK;             // not OK: answer a fault with this status
    std::chrono::milliseconds delay{0};      // wait this long before answering
    bool dropConnection = false;             // close the connection instead of answering
    std::optional<std::vector<uint8_t>> rawResponseStub{};  // send these stub bytes as they are
};

// One call as the service received it.
struct ReceivedCall {
    Service service = Service::Connection;
    uint16_t opnum = 0;
    platform::rpc::CallerIdentity caller;
    std::vector<platform::rpc::RpcArgument> args;
};

// Builds raw response stubs (NDR 2.0, little-endian, 4-byte alignment from
// the start of the stub) for replies that break the contract on purpose.
class StubWriter {
public:
    StubWriter& U32(uint32_t value);
    StubWriter& Bytes(const std::vector<uint8_t>& bytes);
    StubWriter& Units(const std::u16string& units);
    StubWriter& Align4();
    std::vector<uint8_t> Take() { return std::move(stub_); }

private:
    std::vector<uint8_t> stub_;
};

class ScriptedService {
public:
    // Serves both interfaces in `folder` (empty: <device root>/rpc), and on
    // TCP 127.0.0.1 too when `tcp` is true (ephemeral port, see TcpPort()).
    explicit ScriptedService(std::string folder = {}, bool tcp = false);
    ~ScriptedService();  // Stop()
    ScriptedService(const ScriptedService&) = delete;
    ScriptedService& operator=(const ScriptedService&) = delete;

    // Starts listening. Returns RPC_S_OK or the server's status.
    RPC_STATUS Start();
    // Stops serving and removes the sockets; idempotent.
    void Stop();

    // From now on, procedure `opnum` of `service` answers with `reply`.
    // Unscripted procedures answer zeros and empty buffers.
    void Answer(Service service, uint16_t opnum, Reply reply);

    // The calls received so far, in arrival order.
    std::vector<ReceivedCall> Received() const;
    size_t CallCount() const;
    void ClearReceived();

    uint16_t TcpPort() const { return server_.TcpPort(); }

private:
    RPC_STATUS Handle(Service service, platform::rpc::RpcCall& call);
    std::vector<platform::rpc::RpcHandler> HandlersFor(Service service, size_t count);

    platform::rpc::RpcServer server_;
    mutable std::mutex mutex_;
    std::map<std::pair<Service, uint16_t>, Reply> replies_;
    std::vector<ReceivedCall> received_;
};

}  // namespace morvala::services
