// The client against a raw server that answers by hand: replies that break
// the contract raise RpcException with the right status, and the caller's
// buffer and outputs are never written past (nor written at all).
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <thread>

#include "contracts/connection_service.h"
#include "pdu.h"
#include "platform/errors.h"
#include "platform/rpc_server.h"
#include "rpc_test_support.h"
#include "transport.h"

namespace platform::rpc {
namespace {

using rpctest::Hex;
using transport::Io;

// What the raw server sends once it has read the whole request.
enum class Ending { Close, Stall };
struct Script {
    const char* name;
    std::function<std::vector<uint8_t>(uint32_t callId)> reply;
    Ending ending;
    RPC_STATUS expected;  // RPC_S_OK: the call succeeds
};

std::vector<uint8_t> Response(uint32_t callId, const char* stubHex) {
    auto stub = Hex(stubHex);
    return wire::EncodeResponse(callId, wire::kSingleFrag, static_cast<uint32_t>(stub.size()), 0, stub.data(),
                                stub.size());
}

std::vector<uint8_t> Join(std::vector<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Accepts one connection on the connection service's endpoint, acknowledges
// the bind, reads the request and plays the script.
class RawServer {
public:
    RawServer(const std::string& folder, const Script& script) : script_(script) {
        std::filesystem::create_directories(folder);
        path_ = folder + "/" + RpcServer::EndpointName(contracts::kConnectionServiceId);
        listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        ready_ = ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 ::listen(listener_.get(), 4) == 0;
        thread_ = std::thread([this] { Serve(); });
    }
    ~RawServer() {
        ::shutdown(listener_.get(), SHUT_RDWR);
        thread_.join();
        ::unlink(path_.c_str());
    }
    bool ready() const { return ready_; }

private:
    void Serve() {
        transport::UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!connection) return;
        transport::PduReader reader;
        auto read = [&](std::vector<uint8_t>& pdu, wire::Header& header) {
            return reader.Read(connection.get(), 5840, 3000, -1, transport::PduReader::Arrival::Awaited, pdu, header);
        };
        std::vector<uint8_t> pdu;
        wire::Header header;
        if (read(pdu, header) != Io::Ok) return;
        wire::BindAckBody ack{5840, 5840, 1, "raw", {{wire::kAcceptance, 0, kNdr20TransferSyntax}}};
        transport::SendAll(connection.get(), wire::EncodeBindAck(wire::kBindAck, header.callId, ack), 1000);
        do {
            if (read(pdu, header) != Io::Ok) return;
        } while ((header.flags & wire::kLastFrag) == 0);
        transport::SendAll(connection.get(), script_.reply(header.callId), 1000);
        if (script_.ending == Ending::Stall) {
            read(pdu, header);  // until the client gives up
        }
    }

    const Script& script_;
    std::string path_;
    transport::UniqueFd listener_;
    bool ready_ = false;
    std::thread thread_;
};

const std::vector<uint8_t> kNothing;

const Script kScripts[] = {
    {"ValidReply", [](uint32_t id) { return Response(id, "04000000 61626364 04000000 01000000"); }, Ending::Close,
     RPC_S_OK},
    {"ValidReplyInThreeFragments",
     [](uint32_t id) {
         return Join({wire::EncodeResponse(id, wire::kFirstFrag, 16, 0, Hex("04000000 6162").data(), 6),
                      wire::EncodeResponse(id, 0, 10, 0, Hex("6364").data(), 2),
                      wire::EncodeResponse(id, wire::kLastFrag, 8, 0, Hex("04000000 01000000").data(), 8)});
     },
     Ending::Close, RPC_S_OK},
    {"CountAboveCapacity",
     [](uint32_t id) { return Response(id, "0c000000 616263646566676869707172 0c000000 01000000"); }, Ending::Close,
     RPC_X_BAD_STUB_DATA},
    {"ConformanceDiffersFromCount", [](uint32_t id) { return Response(id, "05000000 6162636465 000000 04000000 01000000"); },
     Ending::Close, RPC_X_BAD_STUB_DATA},
    {"TruncatedStub", [](uint32_t id) { return Response(id, "05000000 6162"); }, Ending::Close, RPC_X_BAD_STUB_DATA},
    {"GarbagePdu", [](uint32_t) { return std::vector<uint8_t>(40, 0x5a); }, Ending::Close, RPC_S_PROTOCOL_ERROR},
    {"WrongCallId", [](uint32_t id) { return Response(id + 1, "04000000 61626364 04000000 01000000"); }, Ending::Close,
     RPC_S_PROTOCOL_ERROR},
    {"FirstFragmentFlagMissing",
     [](uint32_t id) {
         auto stub = Hex("04000000 61626364 04000000 01000000");
         return wire::EncodeResponse(id, wire::kLastFrag, 16, 0, stub.data(), stub.size());
     },
     Ending::Close, RPC_S_PROTOCOL_ERROR},
    {"BindAckInsteadOfResponse",
     [](uint32_t id) { return wire::EncodeBindAck(wire::kBindAck, id, wire::BindAckBody{5840, 5840, 1, "", {}}); },
     Ending::Close, RPC_S_PROTOCOL_ERROR},
    {"DroppedMidReply",
     [](uint32_t id) {
         auto pdu = Response(id, "04000000 61626364 04000000 01000000");
         pdu.resize(30);
         return pdu;
     },
     Ending::Close, RPC_S_CALL_FAILED},
    {"DroppedBeforeReply", [](uint32_t) { return kNothing; }, Ending::Close, RPC_S_CALL_FAILED},
    {"NoReplyAtAll", [](uint32_t) { return kNothing; }, Ending::Stall, RPC_S_CALL_FAILED},
    {"ShortFault",
     [](uint32_t id) {
         auto pdu = wire::EncodeFault(id, wire::kSingleFrag, 0, 0x1c010002);
         pdu.resize(28);
         pdu[8] = 28;
         return pdu;
     },
     Ending::Close, RPC_S_PROTOCOL_ERROR},
    {"FaultOpRange", [](uint32_t id) { return wire::EncodeFault(id, 0x23, 0, 0x1c010002); }, Ending::Close,
     RPC_S_PROCNUM_OUT_OF_RANGE},
    {"FaultUnknownInterface", [](uint32_t id) { return wire::EncodeFault(id, 0x23, 0, 0x1c010003); }, Ending::Close,
     RPC_S_UNKNOWN_IF},
    {"FaultProtocolError", [](uint32_t id) { return wire::EncodeFault(id, 0x03, 0, 0x1c01000b); }, Ending::Close,
     RPC_S_PROTOCOL_ERROR},
    {"FaultBadStubData", [](uint32_t id) { return wire::EncodeFault(id, 0x23, 0, 0x6f7); }, Ending::Close,
     RPC_X_BAD_STUB_DATA},
    {"FaultApplicationStatus", [](uint32_t id) { return wire::EncodeFault(id, 0x03, 0, 42); }, Ending::Close, 42},
};

class MalformedReplyTest : public ::testing::TestWithParam<Script> {
protected:
    rpctest::TempDeviceRoot root_;
};

TEST_P(MalformedReplyTest, RaisesItsStatusWithoutTouchingTheCallersMemory) {
    const Script& script = GetParam();
    RawServer server(root_.RpcFolder(), script);
    ASSERT_TRUE(server.ready());
    rpctest::BindingRequest request;
    request.callTimeoutMs = 300;  // the stalled case waits this long
    RPC_BINDING_HANDLE binding = nullptr;
    ASSERT_EQ(rpctest::CreateAndBind(request, contracts::ConnectionServiceIfHandle(), &binding), RPC_S_OK);

    // An 8-byte buffer on the heap, so ASan sees a write past it; the
    // surrounding guard is checked too.
    constexpr ULONG kCapacity = 8;
    auto buffer = std::make_unique<char[]>(kCapacity);
    std::memset(buffer.get(), '.', kCapacity);
    ULONG count = kCapacity;
    LONG status = -7;
    RPC_STATUS raised = RPC_S_OK;
    try {
        NdrClientCall2(&contracts::kConnectionServiceStubDesc, contracts::ConnectionServiceProcFormat(3), binding,
                       buffer.get(), &count, &status);
    } catch (const RpcException& error) {
        raised = error.rpcStatus();
        EXPECT_EQ(error.code(), HRESULT_FROM_WIN32(raised));
    }
    EXPECT_EQ(raised, script.expected);
    if (script.expected == RPC_S_OK) {
        EXPECT_EQ(std::string(buffer.get(), count), "abcd");
        EXPECT_EQ(status, 1);
    } else {
        EXPECT_EQ(std::string(buffer.get(), kCapacity), "........") << "the buffer is untouched";
        EXPECT_EQ(count, kCapacity) << "count keeps the capacity";
        EXPECT_EQ(status, -7) << "status keeps its preset value";
    }
    EXPECT_EQ(RpcBindingFree(&binding), RPC_S_OK);
}

INSTANTIATE_TEST_SUITE_P(Replies, MalformedReplyTest, ::testing::ValuesIn(kScripts),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace platform::rpc
