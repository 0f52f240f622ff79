// Golden wire bytes: every stub and PDU worked out by hand and reproduced by
// an independent NDR engine is produced byte for byte by our encoders and
// read back by our decoders.
#include <functional>

#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "ndr_stub.h"
#include "pdu.h"
#include "rpc_test_support.h"

namespace platform::rpc {
namespace {

using rpctest::Hex;
using rpctest::ToHex;

struct GoldenStub {
    const char* name;
    const RPC_PROCEDURE_TABLE* table;
    unsigned opnum;
    // The caller's inputs, in parameter order per kind.
    std::vector<std::u16string> texts;
    std::vector<uint8_t> block;
    std::vector<uint32_t> values;
    uint32_t capacity;
    const char* request;
    // The service's answer.
    std::vector<uint8_t> outBytes;
    std::u16string outUnits;
    int32_t status;
    int32_t returnValue;
    const char* response;
};

// The caller's side of a call: argument storage and the ClientArgs over it.
struct ClientSide {
    std::vector<std::u16string> texts;
    std::vector<uint8_t> block;
    ULONG count = 0;
    std::array<LONG, RPC_FC_MAX_PARAMS> outs{};
    std::vector<uint8_t> bytes = std::vector<uint8_t>(1024, 0xEE);
    std::vector<WCHAR> units = std::vector<WCHAR>(1024, 0xEEEE);
    ClientArgs args{};

    ClientSide(const ProcedureShape& shape, const GoldenStub& c) : texts(c.texts), block(c.block), count(c.capacity) {
        size_t text = 0, value = 0;
        for (unsigned char k = 0; k < shape.count; ++k) {
            const ParamShape& p = shape.params[k];
            if (p.kind == RPC_FC_WSTRING) args[k].pointer = texts[text++].data();
            if (p.kind == RPC_FC_UINT32) args[k].value = c.values[value++];
            if (p.kind == RPC_FC_INT32_REF) args[k].pointer = &outs[k];
            if (p.kind == RPC_FC_COUNT_REF) args[k].pointer = &count;
            if (p.kind == RPC_FC_BYTE_ARRAY) args[k].pointer = p.IsIn() ? block.data() : bytes.data();
            if (p.kind == RPC_FC_WCHAR_ARRAY) args[k].pointer = units.data();
        }
    }
};

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

const GoldenStub kGoldenStubs[] = {
    {"ConnGetText", &contracts::kConnectionServiceProcedures, 3, {}, {}, {}, 300, "2c010000", Bytes("abcdefghi"), u"",
     1, 0, "09000000 616263646566676869 000000 09000000 01000000"},
    {"ConnCheckText", &contracts::kConnectionServiceProcedures, 9, {u"ab"}, {}, {}, 0,
     "03000000 00000000 03000000 6100 6200 0000", {}, u"", 0, 1, "00000000 01000000"},
    {"AccSendTextsEmpty", &contracts::kAccessoryServiceProcedures, 2, {u"", u"", u""}, {}, {}, 0,
     "01000000 00000000 01000000 0000 0000 01000000 00000000 01000000 0000 0000 01000000 00000000 01000000 0000",
     {}, u"", 1, 0, "01000000"},
    {"ConnProc1", &contracts::kConnectionServiceProcedures, 1, {u"x"},
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {16}, 0,
     "02000000 00000000 02000000 7800 0000 10000000 000102030405060708090a0b0c0d0e0f 10000000", {}, u"", 0, 1,
     "00000000 01000000"},
    {"AccProc0", &contracts::kAccessoryServiceProcedures, 0, {u"a", u""}, {}, {5, 7}, 0,
     "02000000 00000000 02000000 6100 0000 01000000 00000000 01000000 0000 0000 05000000 07000000", {}, u"", 0, 0,
     ""},
    {"ConnProc5", &contracts::kConnectionServiceProcedures, 5, {u"k"}, {}, {}, 255,
     "02000000 00000000 02000000 6b00 0000 ff000000", {}, std::u16string(u"hi\0", 3), 1, 0,
     "03000000 6800 6900 0000 0000 03000000 01000000"},
    {"ConnProc4", &contracts::kConnectionServiceProcedures, 4, {}, {}, {}, 0, "", {}, u"", 42, 0, "2a000000"},
};

class GoldenStubTest : public ::testing::TestWithParam<GoldenStub> {};

TEST_P(GoldenStubTest, EncodersAndDecodersMatchTheGoldenBytes) {
    const GoldenStub& c = GetParam();
    auto shapes = ParseProcedureTable(*c.table);
    ASSERT_TRUE(shapes);
    const ProcedureShape& shape = (*shapes)[c.opnum];
    ClientSide client(shape, c);

    std::vector<uint8_t> request;
    ASSERT_EQ(EncodeClientRequest(shape, client.args, request), RPC_S_OK);
    EXPECT_EQ(ToHex(request), ToHex(Hex(c.request)));

    RpcCall call;
    ASSERT_EQ(DecodeServerRequest(shape, request.data(), request.size(), call.args), RPC_S_OK);
    size_t text = 0, value = 0;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const RpcArgument& arg = call.args[k];
        if (arg.kind == RPC_FC_WSTRING) {
            EXPECT_EQ(arg.text, c.texts[text++]);
        }
        if (arg.kind == RPC_FC_UINT32) {
            EXPECT_EQ(arg.value, c.values[value++]);
        }
        if (arg.kind == RPC_FC_COUNT_REF) {
            EXPECT_EQ(arg.capacity, c.capacity);
        }
        if (arg.kind == RPC_FC_BYTE_ARRAY && arg.direction == RPC_FC_DIR_IN) {
            EXPECT_EQ(arg.bytes, c.block);
        }
        if (arg.kind == RPC_FC_BYTE_ARRAY && arg.direction == RPC_FC_DIR_OUT) call.args[k].bytes = c.outBytes;
        if (arg.kind == RPC_FC_WCHAR_ARRAY) call.args[k].units = c.outUnits;
        if (arg.kind == RPC_FC_INT32_REF) call.args[k].value = static_cast<uint32_t>(c.status);
    }
    call.returnValue = c.returnValue;
    std::vector<uint8_t> response;
    ASSERT_EQ(EncodeServerResponse(shape, call, response), RPC_S_OK);
    EXPECT_EQ(ToHex(response), ToHex(Hex(c.response)));

    std::vector<uint8_t> golden = Hex(c.response);
    StagedResponse staged;
    ASSERT_EQ(DecodeClientResponse(shape, client.args, golden.data(), golden.size(), staged), RPC_S_OK);
    EXPECT_EQ(staged.returnValue, c.returnValue);
    CommitClientResponse(shape, client.args, staged);
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& p = shape.params[k];
        if (p.kind == RPC_FC_INT32_REF) {
            EXPECT_EQ(client.outs[k], c.status);
        }
        if (p.kind == RPC_FC_COUNT_REF && shape.ArraySizedBy(k)) {
            EXPECT_EQ(client.count, c.outBytes.size() + c.outUnits.size());
        }
    }
    EXPECT_TRUE(std::equal(c.outBytes.begin(), c.outBytes.end(), client.bytes.begin()));
    EXPECT_EQ(client.bytes[c.outBytes.size()], 0xEE) << "nothing written past the returned bytes";
    EXPECT_TRUE(std::equal(c.outUnits.begin(), c.outUnits.end(), client.units.begin()));
    EXPECT_EQ(client.units[c.outUnits.size()], 0xEEEE);
}

INSTANTIATE_TEST_SUITE_P(Stubs, GoldenStubTest, ::testing::ValuesIn(kGoldenStubs),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Whole PDUs ----------------------------------------------------------

wire::ContextResult Accepted() { return {wire::kAcceptance, 0, kNdr20TransferSyntax}; }

wire::BindAckBody Ack(std::string address, wire::ContextResult result) {
    return wire::BindAckBody{4280, 4280, 0x53f0, std::move(address), {result}};
}

struct GoldenPdu {
    const char* name;
    std::function<std::vector<uint8_t>()> encode;
    const char* hex;
    uint8_t type;
    uint32_t callId;
};

const GoldenPdu kGoldenPdus[] = {
    {"Bind",
     [] {
         wire::BindBody body{4280, 4280, 0, {{0, contracts::kConnectionServiceId, {kNdr20TransferSyntax}}}};
         return wire::EncodeBind(wire::kBind, 1, body);
     },
     "05000b03100000004800000001000000b810b810000000000100000000000100c84f309acd42ce40b6f4bfd48f1f93aa01000000045d88"
     "8aeb1cc9119fe808002b10486002000000",
     wire::kBind, 1},
    {"BindAckTcp", [] { return wire::EncodeBindAck(wire::kBindAck, 1, Ack("5555", Accepted())); },
     "05000c03100000003c00000001000000b810b810f053000005003535353500000100000000000000045d888aeb1cc9119fe808002b1048"
     "6002000000",
     wire::kBindAck, 1},
    {"BindAckLocal", [] { return wire::EncodeBindAck(wire::kBindAck, 1, Ack("CONNSVC", Accepted())); },
     "05000c03100000004000000001000000 b810b810 f0530000 0800 434f4e4e53564300 0000 01000000 00000000 045d888aeb1cc91"
     "19fe808002b10486002000000",
     wire::kBindAck, 1},
    {"BindAckRejected",
     [] {
         return wire::EncodeBindAck(wire::kBindAck, 1,
                                    Ack("CONNSVC", {wire::kProviderRejection, wire::kAbstractSyntaxNotSupported, {}}));
     },
     "05000c03100000004000000001000000b810b810f05300000800434f4e4e53564300000001000000 02000100 00000000000000000000"
     "00000000000000000000",
     wire::kBindAck, 1},
    {"RequestGetText",
     [] {
         auto stub = Hex("2c010000");
         return wire::EncodeRequest(2, wire::kSingleFrag, 4, 0, 3, stub.data(), stub.size());
     },
     "05 00 00 03 10 00 00 00 1c 00 00 00 02 00 00 00 04 00 00 00 00 00 03 00 2c 01 00 00", wire::kRequest, 2},
    {"ResponseGetText",
     [] {
         auto stub = Hex("09000000 616263646566676869 000000 09000000 01000000");
         return wire::EncodeResponse(2, wire::kSingleFrag, 0x18, 0, stub.data(), stub.size());
     },
     "05 00 02 03 10 00 00 00 30 00 00 00 02 00 00 00 18 00 00 00 00 00 00 00 09000000 616263646566676869 000000 "
     "09000000 01000000",
     wire::kResponse, 2},
    {"FaultOpRange",
     [] { return wire::EncodeFault(5, wire::kSingleFrag | wire::kDidNotExecute, 0, 0x1c010002); },
     "05 00 03 23 10 00 00 00 20 00 00 00 05 00 00 00 00 00 00 00 00 00 00 00 02 00 01 1c 00 00 00 00", wire::kFault,
     5},
    {"BindNak", [] { return wire::EncodeBindNak(1, wire::kNakProtocolVersionNotSupported); },
     "05 00 0d 03 10 00 00 00 18 00 00 00 01 00 00 00 04 00 01 05 00 00 00 00", wire::kBindNak, 1},
    {"AlterContextResp",
     [] { return wire::EncodeBindAck(wire::kAlterContextResp, 6, Ack("", Accepted())); },
     "05000f03100000003800000006000000 b810b810 f0530000 0000 0000 01000000 00000000 045d888aeb1cc9119fe808002b10486"
     "002000000",
     wire::kAlterContextResp, 6},
};

class GoldenPduTest : public ::testing::TestWithParam<GoldenPdu> {};

TEST_P(GoldenPduTest, EncoderMatchesAndHeaderDecodes) {
    const GoldenPdu& c = GetParam();
    std::vector<uint8_t> encoded = c.encode();
    EXPECT_EQ(ToHex(encoded), ToHex(Hex(c.hex)));
    wire::Header header;
    ASSERT_TRUE(wire::DecodeWholePdu(Hex(c.hex), 5840, header));
    EXPECT_EQ(header.type, c.type);
    EXPECT_EQ(header.callId, c.callId);
    EXPECT_EQ(header.fragLength, encoded.size());
}

INSTANTIATE_TEST_SUITE_P(Pdus, GoldenPduTest, ::testing::ValuesIn(kGoldenPdus),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GoldenPduBodies, BodiesDecodeToTheirFields) {
    wire::BindBody bind;
    ASSERT_TRUE(wire::DecodeBind(Hex(kGoldenPdus[0].hex), bind));
    EXPECT_EQ(bind.maxXmitFrag, 4280);
    ASSERT_EQ(bind.contexts.size(), 1u);
    EXPECT_TRUE(wire::SameSyntax(bind.contexts[0].abstractSyntax, contracts::kConnectionServiceId));
    ASSERT_EQ(bind.contexts[0].transferSyntaxes.size(), 1u);
    EXPECT_TRUE(wire::SameSyntax(bind.contexts[0].transferSyntaxes[0], kNdr20TransferSyntax));

    wire::BindAckBody ack;
    ASSERT_TRUE(wire::DecodeBindAck(Hex(kGoldenPdus[2].hex), ack));
    EXPECT_EQ(ack.secondaryAddress, "CONNSVC");
    EXPECT_EQ(ack.assocGroupId, 0x53f0u);
    ASSERT_EQ(ack.results.size(), 1u);
    EXPECT_EQ(ack.results[0].result, wire::kAcceptance);
    ASSERT_TRUE(wire::DecodeBindAck(Hex(kGoldenPdus[3].hex), ack));
    EXPECT_EQ(ack.results[0].result, wire::kProviderRejection);
    EXPECT_EQ(ack.results[0].reason, wire::kAbstractSyntaxNotSupported);

    auto requestPdu = Hex(kGoldenPdus[4].hex);  // the body points into it
    wire::RequestBody request;
    ASSERT_TRUE(wire::DecodeRequest(requestPdu, wire::kSingleFrag, request));
    EXPECT_EQ(request.opnum, 3);
    EXPECT_EQ(request.allocHint, 4u);
    EXPECT_EQ(std::vector<uint8_t>(request.stub, request.stub + request.stubSize), Hex("2c010000"));

    auto responsePdu = Hex(kGoldenPdus[5].hex);
    wire::ResponseBody response;
    ASSERT_TRUE(wire::DecodeResponse(responsePdu, response));
    EXPECT_EQ(response.stubSize, 24u);

    wire::FaultBody fault;
    ASSERT_TRUE(wire::DecodeFault(Hex(kGoldenPdus[6].hex), fault));
    EXPECT_EQ(fault.status, 0x1c010002u);

    uint16_t reason = 0;
    ASSERT_TRUE(wire::DecodeBindNak(Hex(kGoldenPdus[7].hex), reason));
    EXPECT_EQ(reason, wire::kNakProtocolVersionNotSupported);
}

TEST(GoldenFragments, LargeStubSplitsIntoAlignedFragmentsThatReassemble) {
    std::vector<uint8_t> stub(5012);
    for (size_t k = 0; k < stub.size(); ++k) stub[k] = static_cast<uint8_t>(k * 7);
    auto fragments = wire::FragmentResponse(9, 0, stub, 2048);
    ASSERT_EQ(fragments.size(), 3u);  // 2016 + 2016 + 980 stub bytes
    std::vector<uint8_t> joined;
    uint32_t expectedHint = 5012;
    for (size_t k = 0; k < fragments.size(); ++k) {
        wire::Header header;
        ASSERT_TRUE(wire::DecodeWholePdu(fragments[k], 2048, header));
        EXPECT_EQ((header.flags & wire::kFirstFrag) != 0, k == 0);
        EXPECT_EQ((header.flags & wire::kLastFrag) != 0, k + 1 == fragments.size());
        wire::ResponseBody body;
        ASSERT_TRUE(wire::DecodeResponse(fragments[k], body));
        EXPECT_EQ(body.allocHint, expectedHint);
        if (k + 1 < fragments.size()) {
            EXPECT_EQ(body.stubSize, 2016u);
        }
        expectedHint -= static_cast<uint32_t>(body.stubSize);
        joined.insert(joined.end(), body.stub, body.stub + body.stubSize);
    }
    EXPECT_EQ(joined, stub);
}

TEST(GoldenContracts, ProcedureTablesParseAndNumberThemselves) {
    auto connection = ParseProcedureTable(contracts::kConnectionServiceProcedures);
    auto accessory = ParseProcedureTable(contracts::kAccessoryServiceProcedures);
    ASSERT_TRUE(connection);
    ASSERT_TRUE(accessory);
    EXPECT_EQ(connection->size(), 10u);
    EXPECT_EQ(accessory->size(), 4u);
    EXPECT_TRUE((*connection)[1].returnsInt32);
    EXPECT_TRUE((*connection)[9].returnsInt32);
    EXPECT_FALSE((*accessory)[3].returnsInt32);
}

}  // namespace
}  // namespace platform::rpc
