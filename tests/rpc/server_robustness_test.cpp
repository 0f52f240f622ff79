// The server against a raw client that speaks PDUs by hand: presentation
// context negotiation, faults with the right codes, and malformed or stalled
// connections that are closed without harm to the others.
#include <chrono>

#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "pdu.h"
#include "rpc_test_support.h"
#include "test_service.h"
#include "transport.h"

namespace platform::rpc {
namespace {

using rpctest::Hex;
using transport::Io;

const RPC_SYNTAX_IDENTIFIER kNdr64 = {{0x71710533, 0xbeba, 0x4937, {0x83, 0x19, 0xb5, 0xdb, 0xef, 0x9c, 0xcc, 0x36}},
                                      {1, 0}};
const RPC_SYNTAX_IDENTIFIER kFeatureNegotiation = {
    {0x6cb71c2c, 0x9812, 0x4540, {0x03, 0, 0, 0, 0, 0, 0, 0}}, {1, 0}};

class RawClient {
public:
    explicit RawClient(const std::string& path) { transport::ConnectLocal(path, 1000, fd_); }
    bool connected() const { return static_cast<bool>(fd_); }
    bool Send(const std::vector<uint8_t>& bytes) { return transport::SendAll(fd_.get(), bytes, 1000) == Io::Ok; }
    Io Read(std::vector<uint8_t>& pdu, wire::Header& header, int timeoutMs = 3000) {
        return reader_.Read(fd_.get(), 5840, timeoutMs, -1, transport::PduReader::Arrival::Awaited, pdu, header);
    }
    // Binds the given contexts; returns the results, empty when no bind_ack came.
    std::vector<wire::ContextResult> Bind(std::vector<wire::ContextElement> contexts, uint8_t type = wire::kBind) {
        Send(wire::EncodeBind(type, 1, wire::BindBody{5840, 5840, 0, std::move(contexts)}));
        std::vector<uint8_t> pdu;
        wire::Header header;
        wire::BindAckBody ack;
        if (Read(pdu, header) != Io::Ok || !wire::DecodeBindAck(pdu, ack)) return {};
        lastAck_ = ack;
        return ack.results;
    }
    const wire::BindAckBody& lastAck() const { return lastAck_; }
    // Sends one request and returns the answer's type (fault status in *fault).
    uint8_t Call(uint16_t contextId, uint16_t opnum, const std::vector<uint8_t>& stub, uint32_t* fault = nullptr,
                 uint8_t* flags = nullptr) {
        Send(wire::EncodeRequest(7, wire::kSingleFrag, 0, contextId, opnum, stub.data(), stub.size()));
        std::vector<uint8_t> pdu;
        wire::Header header;
        if (Read(pdu, header) != Io::Ok) return 0xFF;
        wire::FaultBody body;
        if (header.type == wire::kFault && wire::DecodeFault(pdu, body) && fault != nullptr) *fault = body.status;
        if (flags != nullptr) *flags = header.flags;
        return header.type;
    }
    // True when the server closes the connection within timeoutMs.
    bool ClosedByServer(int timeoutMs = 5000) {
        std::vector<uint8_t> pdu;
        wire::Header header;
        Io io = Read(pdu, header, timeoutMs);
        return io == Io::Closed || io == Io::Broken;
    }

private:
    transport::UniqueFd fd_;
    transport::PduReader reader_;
    wire::BindAckBody lastAck_;
};

wire::ContextElement Context(uint16_t id, const RPC_SYNTAX_IDENTIFIER& abstract,
                             std::vector<RPC_SYNTAX_IDENTIFIER> transfers = {kNdr20TransferSyntax}) {
    return wire::ContextElement{id, abstract, std::move(transfers)};
}

class ServerRobustnessTest : public ::testing::Test {
protected:
    void SetUp() override {
        options_.idleTimeoutMs = 300;
        options_.maxRequestBytes = 4096;
        server_ = rpctest::StartTestServer(options_);
        ASSERT_NE(server_, nullptr);
        path_ = root_.RpcFolder() + "/" + RpcServer::EndpointName(contracts::kConnectionServiceId);
    }
    rpctest::TempDeviceRoot root_;
    RpcServerOptions options_;
    std::unique_ptr<RpcServer> server_;
    std::string path_;
};

TEST_F(ServerRobustnessTest, BindAnswersEveryContextWithTheRightResult) {
    RawClient client(path_);
    const RPC_SYNTAX_IDENTIFIER unknown = {{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}}, {1, 0}};
    RPC_SYNTAX_IDENTIFIER newerMinor = contracts::kConnectionServiceId;
    newerMinor.SyntaxVersion.MinorVersion = 1;
    auto results = client.Bind({Context(0, contracts::kConnectionServiceId),
                                Context(1, contracts::kConnectionServiceId, {kFeatureNegotiation}),
                                Context(2, unknown), Context(3, contracts::kAccessoryServiceId, {kNdr64}),
                                Context(4, newerMinor)});
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(results[0].result, wire::kAcceptance);
    EXPECT_TRUE(wire::SameSyntax(results[0].transferSyntax, kNdr20TransferSyntax));
    EXPECT_EQ(results[1].result, wire::kNegotiateAck);
    EXPECT_EQ(results[2].result, wire::kProviderRejection);
    EXPECT_EQ(results[2].reason, wire::kAbstractSyntaxNotSupported);
    EXPECT_EQ(results[3].result, wire::kProviderRejection);
    EXPECT_EQ(results[3].reason, wire::kTransferSyntaxesNotSupported);
    EXPECT_EQ(results[4].reason, wire::kAbstractSyntaxNotSupported) << "a minor version newer than served";
    EXPECT_EQ(client.lastAck().secondaryAddress, RpcServer::EndpointName(contracts::kConnectionServiceId));
    EXPECT_NE(client.lastAck().assocGroupId, 0u);

    // The accepted context serves calls; a rejected one is an unknown interface.
    uint32_t fault = 0;
    EXPECT_EQ(client.Call(0, 9, Hex("03000000 00000000 03000000 6100 6200 0000")), wire::kResponse);
    EXPECT_EQ(client.Call(2, 9, Hex("03000000 00000000 03000000 6100 6200 0000"), &fault), wire::kFault);
    EXPECT_EQ(fault, 0x1c010003u);
}

// 242 contexts without transfer syntaxes fit a 5840-byte bind, but their
// 242 results do not fit a 5840-byte bind_ack: the server refuses the bind
// rather than send a PDU longer than any fragment it agreed to.
TEST_F(ServerRobustnessTest, BindWhoseAnswerWouldNotFitAFragmentIsRefused) {
    RawClient client(path_);
    std::vector<wire::ContextElement> contexts;
    for (uint16_t id = 0; id < 242; ++id) contexts.push_back(Context(id, contracts::kAccessoryServiceId, {}));
    auto bind = wire::EncodeBind(wire::kBind, 1, wire::BindBody{5840, 5840, 0, contexts});
    ASSERT_LE(bind.size(), 5840u);
    ASSERT_TRUE(client.Send(bind));
    std::vector<uint8_t> pdu;
    wire::Header header;
    ASSERT_EQ(client.Read(pdu, header), Io::Ok) << "the answer must be a PDU the client can read";
    EXPECT_EQ(header.type, wire::kBindNak);
    uint16_t reason = 0;
    EXPECT_TRUE(wire::DecodeBindNak(pdu, reason));
    EXPECT_EQ(reason, wire::kNakLocalLimitExceeded);
    EXPECT_TRUE(client.ClosedByServer());
}

TEST_F(ServerRobustnessTest, AlterContextAddsAnInterfaceOnTheSameConnection) {
    RawClient client(path_);
    ASSERT_EQ(client.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    auto results = client.Bind({Context(1, contracts::kAccessoryServiceId)}, wire::kAlterContext);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].result, wire::kAcceptance);
    EXPECT_EQ(client.lastAck().secondaryAddress, "");
    EXPECT_EQ(client.Call(1, 1, {}), wire::kResponse);  // accessory GetFlag
}

TEST_F(ServerRobustnessTest, RequestFaultsCarryTheirCodesAndKeepTheConnection) {
    RawClient client(path_);
    ASSERT_EQ(client.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    struct Case {
        const char* name;
        uint16_t opnum;
        const char* stub;
        uint32_t fault;
    };
    const Case cases[] = {
        {"OpnumOutOfRange", 10, "", 0x1c010002},
        {"StringNotTerminated", 9, "02000000 00000000 02000000 6100 6200", 0x6f7},
        {"BlockLengthMismatch", 1, "02000000 00000000 02000000 7800 0000 04000000 00010203 10000000", 0x6f7},
        {"TrailingBytes", 4, "00000000", 0x6f7},
    };
    for (const auto& c : cases) {
        uint32_t fault = 0;
        uint8_t flags = 0;
        EXPECT_EQ(client.Call(0, c.opnum, Hex(c.stub), &fault, &flags), wire::kFault) << c.name;
        EXPECT_EQ(fault, c.fault) << c.name;
        EXPECT_NE(flags & wire::kDidNotExecute, 0) << c.name;
        EXPECT_EQ(client.Call(0, 4, {}), wire::kResponse) << "connection still serves after " << c.name;
    }
}

TEST_F(ServerRobustnessTest, ProtocolViolationsCloseOnlyTheirOwnConnection) {
    RawClient bystander(path_);
    ASSERT_EQ(bystander.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);

    struct Case {
        const char* name;
        bool bindFirst;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"Garbage", false, std::vector<uint8_t>(32, 'x')},
        {"RequestBeforeBind", false, wire::EncodeRequest(2, wire::kSingleFrag, 0, 0, 4, nullptr, 0)},
        {"MiddleFragmentWithoutFirst", true, wire::EncodeRequest(2, 0, 0, 0, 4, nullptr, 0)},
        {"SecondBind", true,
         wire::EncodeBind(wire::kBind, 3, wire::BindBody{5840, 5840, 0, {Context(0, contracts::kConnectionServiceId)}})},
        {"ResponseFromClient", true, wire::EncodeResponse(2, wire::kSingleFrag, 0, 0, nullptr, 0)},
        {"BindWithoutContexts", false, wire::EncodeBind(wire::kBind, 1, wire::BindBody{5840, 5840, 0, {}})},
    };
    for (const auto& c : cases) {
        RawClient client(path_);
        ASSERT_TRUE(client.connected());
        if (c.bindFirst) {
            ASSERT_EQ(client.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
        }
        client.Send(c.bytes);
        std::vector<uint8_t> pdu;
        wire::Header header;
        Io io = client.Read(pdu, header);
        if (io == Io::Ok) {  // an answer (fault or bind_nak) may come first, then the close
            EXPECT_TRUE(header.type == wire::kFault || header.type == wire::kBindNak) << c.name;
            EXPECT_TRUE(client.ClosedByServer()) << c.name;
        } else {
            EXPECT_TRUE(io == Io::Closed || io == Io::Broken) << c.name;
        }
        EXPECT_EQ(bystander.Call(0, 4, {}), wire::kResponse) << "bystander after " << c.name;
    }
}

TEST_F(ServerRobustnessTest, OversizedRequestIsRefusedAndClosed) {
    RawClient client(path_);
    ASSERT_EQ(client.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    std::vector<uint8_t> part(2000, 0);
    client.Send(wire::EncodeRequest(2, wire::kFirstFrag, 6000, 0, 1, part.data(), part.size()));
    client.Send(wire::EncodeRequest(2, 0, 4000, 0, 1, part.data(), part.size()));
    client.Send(wire::EncodeRequest(2, wire::kLastFrag, 2000, 0, 1, part.data(), part.size()));
    std::vector<uint8_t> pdu;
    wire::Header header;
    ASSERT_EQ(client.Read(pdu, header), Io::Ok);
    wire::FaultBody fault;
    ASSERT_TRUE(wire::DecodeFault(pdu, fault));
    EXPECT_EQ(fault.status, static_cast<uint32_t>(RPC_S_ACCESS_DENIED));
    EXPECT_TRUE(client.ClosedByServer());
}

TEST_F(ServerRobustnessTest, StalledPartialPduIsClosedAfterTheIdleTimeout) {
    RawClient stalled(path_);
    ASSERT_EQ(stalled.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    auto request = wire::EncodeRequest(2, wire::kSingleFrag, 0, 0, 4, nullptr, 0);
    request.resize(10);  // half a header, then silence
    stalled.Send(request);
    EXPECT_TRUE(stalled.ClosedByServer(5000));

    RawClient silent(path_);  // never sends anything
    EXPECT_TRUE(silent.ClosedByServer(5000));
}

TEST_F(ServerRobustnessTest, StopReturnsWhileAConnectionStalls) {
    RawClient stalled(path_);
    ASSERT_EQ(stalled.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    server_->Stop();
    EXPECT_TRUE(stalled.ClosedByServer(1000));
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(ServerRobustnessTest, StopEndsIdleConnectionsWithoutWaitingForTheirTimeout) {
    server_.reset();
    options_.idleTimeoutMs = 60000;
    options_.workers = 2;
    server_ = rpctest::StartTestServer(options_);
    ASSERT_NE(server_, nullptr);
    // Every worker holds an idle bound connection, and one more waits in
    // the listen queue.
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int k = 0; k < 2; ++k) {
        idle.push_back(std::make_unique<RawClient>(path_));
        ASSERT_EQ(idle.back()->Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u);
    }
    RawClient queued(path_);
    auto start = std::chrono::steady_clock::now();
    server_->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "not the 60 s idle timeout";
    for (auto& client : idle) EXPECT_TRUE(client->ClosedByServer(1000));
    EXPECT_TRUE(queued.ClosedByServer(1000));
}

TEST_F(ServerRobustnessTest, SecondServerOnALiveEndpointIsRefused) {
    RpcServer second;
    ASSERT_EQ(second.RegisterInterface(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures,
                                       rpctest::ConnectionHandlers()),
              RPC_S_OK);
    EXPECT_EQ(second.Start(), RPC_S_DUPLICATE_ENDPOINT);
    RawClient client(path_);
    EXPECT_EQ(client.Bind({Context(0, contracts::kConnectionServiceId)}).size(), 1u) << "the first still serves";
}

TEST(ServerRegistration, MalformedTablesAndWrongHandlerCountsAreRefused) {
    RpcServer server;
    EXPECT_EQ(server.RegisterInterface(contracts::kConnectionServiceId, contracts::kConnectionServiceProcedures,
                                       std::vector<RpcHandler>(9)),
              RPC_S_INVALID_ARG);
    static const unsigned char badFormat[] = {RPC_FC_PROC, 1, 0, 0, 0};  // says opnum 1 at index 0
    static const unsigned short offsets[] = {0};
    EXPECT_EQ(server.RegisterInterface(contracts::kAccessoryServiceId, RPC_PROCEDURE_TABLE{badFormat, offsets, 1},
                                       std::vector<RpcHandler>(1)),
              RPC_S_INVALID_ARG);
    EXPECT_EQ(server.Start(), RPC_S_INVALID_ARG) << "nothing registered";
}

}  // namespace
}  // namespace platform::rpc
