// Decoders refuse what is not well formed, as a status, without reading past
// their input: truncated, oversized and inconsistent PDUs and stubs.
#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "ndr_stub.h"
#include "pdu.h"
#include "rpc_test_support.h"

namespace platform::rpc {
namespace {

using rpctest::Hex;

// Decodes a PDU header and, when it passes, the body its type names.
bool DecodesAsPdu(const std::vector<uint8_t>& bytes) {
    wire::Header header;
    if (!wire::DecodeWholePdu(bytes, 5840, header)) return false;
    wire::BindBody bind;
    wire::BindAckBody ack;
    wire::RequestBody request;
    wire::ResponseBody response;
    wire::FaultBody fault;
    uint16_t reason = 0;
    switch (header.type) {
        case wire::kBind: return wire::DecodeBind(bytes, bind);
        case wire::kBindAck: return wire::DecodeBindAck(bytes, ack);
        case wire::kBindNak: return wire::DecodeBindNak(bytes, reason);
        case wire::kRequest: return wire::DecodeRequest(bytes, header.flags, request);
        case wire::kResponse: return wire::DecodeResponse(bytes, response);
        case wire::kFault: return wire::DecodeFault(bytes, fault);
        default: return true;
    }
}

// Each input exactly sized (a copy on the heap, so ASan sees any overread).
struct BadPdu {
    const char* name;
    const char* hex;
};

const BadPdu kBadPdus[] = {
    {"Empty", ""},
    {"ShortHeader", "05000b031000000048000000010000"},
    {"WrongVersion", "04000b03100000001000000001000000"},
    {"WrongMinorVersion", "05020b03100000001000000001000000"},
    {"BigEndianDrep", "05000b03000000001000000001000000"},
    {"FragLengthBelowHeader", "05000b03100000000f00000001000000"},
    {"FragLengthBeyondBuffer", "05000b03100000004800000001000000b810b810"},
    {"AuthTrailerAnnounced", "05000003100000001c00100002000000040000000000030010000000"},
    {"BindContextsBeyondEnd", "05000b03100000001c00000001000000b810b8100000000002000000"},
    {"BindTransferSyntaxesBeyondEnd",
     "05000b03100000003400000001000000b810b810000000000100000000000500c84f309acd42ce40b6f4bfd48f1f93aa01000000"},
    {"BindAckAddressBeyondEnd", "05000c03100000001c00000001000000b810b810f0530000ff000000"},
    {"BindAckAddressNotTerminated",
     "05000c03100000002400000001000000b810b810f053000004003535353500000000000000"},
    {"BindAckResultsBeyondEnd", "05000c03100000002000000001000000b810b810f05300000000000002000000"},
    {"RequestShorterThanItsHeader", "05000003100000001400000002000000ffffffff"},
    {"RequestObjectUuidMissing", "05000083100000001c00000002000000040000000000030011223344"},
    {"ResponseShorterThanItsHeader", "05000203100000001200000002000000ffff"},
    {"FaultWithoutReservedWord", "05000323100000001c0000000500000000000000000000000200011c"},
};

class BadPduTest : public ::testing::TestWithParam<BadPdu> {};

TEST_P(BadPduTest, IsRefused) {
    std::vector<uint8_t> bytes = Hex(GetParam().hex);
    EXPECT_FALSE(DecodesAsPdu(bytes));
}

INSTANTIATE_TEST_SUITE_P(Pdus, BadPduTest, ::testing::ValuesIn(kBadPdus),
                         [](const auto& info) { return std::string(info.param.name); });

// Request stubs a service must refuse with bad stub data.
struct BadRequest {
    const char* name;
    const RPC_PROCEDURE_TABLE* table;
    unsigned opnum;
    const char* stub;
};

const BadRequest kBadRequests[] = {
    {"StringWithoutTerminator", &contracts::kConnectionServiceProcedures, 9, "02000000 00000000 02000000 6100 6200"},
    {"StringOffsetNotZero", &contracts::kConnectionServiceProcedures, 9, "03000000 01000000 02000000 6100 0000 0000"},
    {"StringActualAboveMax", &contracts::kConnectionServiceProcedures, 9, "01000000 00000000 02000000 6100 0000"},
    {"StringActualZero", &contracts::kConnectionServiceProcedures, 9, "00000000 00000000 00000000"},
    {"StringUnitsBeyondEnd", &contracts::kConnectionServiceProcedures, 9, "ffffff7f 00000000 ffffff7f 6100"},
    {"StringTruncatedCounts", &contracts::kConnectionServiceProcedures, 9, "03000000 0000"},
    {"BlockLongerThanLength", &contracts::kConnectionServiceProcedures, 1,
     "02000000 00000000 02000000 7800 0000 11000000 000102030405060708090a0b0c0d0e0f10 000000 10000000"},
    {"BlockShorterThanLength", &contracts::kConnectionServiceProcedures, 1,
     "02000000 00000000 02000000 7800 0000 04000000 00010203 10000000"},
    {"BlockBeyondEnd", &contracts::kConnectionServiceProcedures, 1,
     "02000000 00000000 02000000 7800 0000 ffffffff 0001"},
    {"CountMissing", &contracts::kConnectionServiceProcedures, 3, "2c01"},
    {"TrailingBytes", &contracts::kConnectionServiceProcedures, 3, "2c010000 00"},
    {"Proc0ValueMissing", &contracts::kAccessoryServiceProcedures, 0,
     "02000000 00000000 02000000 6100 0000 01000000 00000000 01000000 0000 0000 05000000"},
};

class BadRequestTest : public ::testing::TestWithParam<BadRequest> {};

TEST_P(BadRequestTest, ServiceRefusesWithBadStubData) {
    const BadRequest& c = GetParam();
    auto shapes = ParseProcedureTable(*c.table);
    ASSERT_TRUE(shapes);
    std::vector<uint8_t> stub = Hex(c.stub);
    std::vector<RpcArgument> args;
    EXPECT_EQ(DecodeServerRequest((*shapes)[c.opnum], stub.data(), stub.size(), args), RPC_X_BAD_STUB_DATA);
}

INSTANTIATE_TEST_SUITE_P(Stubs, BadRequestTest, ::testing::ValuesIn(kBadRequests),
                         [](const auto& info) { return std::string(info.param.name); });

// Response stubs a client must refuse before it writes anything.
struct BadResponse {
    const char* name;
    unsigned opnum;  // of the connection service
    uint32_t capacity;
    const char* stub;
};

const BadResponse kBadResponses[] = {
    {"CountAboveCapacity", 3, 4, "09000000 616263646566676869 000000 09000000 01000000"},
    {"ConformanceDiffersFromCount", 3, 300, "09000000 616263646566676869 000000 05000000 01000000"},
    {"ConformanceAboveCapacityCountWithin", 3, 4, "09000000 616263646566676869 000000 03000000 01000000"},
    {"ElementsBeyondEnd", 3, 300, "ff000000 6162"},
    {"StatusMissing", 3, 300, "03000000 616263 00 03000000"},
    {"TrailingBytes", 3, 300, "03000000 616263 00 03000000 01000000 00"},
    {"WideConformanceAboveCapacity", 2, 2, "03000000 6800 6900 0000 0000 03000000 01000000"},
    {"WideUnitsBeyondEnd", 2, 300, "03000000 6800"},
    {"ReturnValueMissing", 9, 0, "00000000"},
    {"Empty", 4, 0, ""},
};

class BadResponseTest : public ::testing::TestWithParam<BadResponse> {};

TEST_P(BadResponseTest, ClientRefusesWithBadStubData) {
    const BadResponse& c = GetParam();
    auto shapes = ParseProcedureTable(contracts::kConnectionServiceProcedures);
    ASSERT_TRUE(shapes);
    const ProcedureShape& shape = (*shapes)[c.opnum];
    std::vector<uint8_t> buffer(c.capacity * 2 + 1, 0xEE);
    ULONG count = c.capacity;
    LONG status = 0;
    std::u16string text = u"ab";
    ClientArgs args{};
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& p = shape.params[k];
        if (p.kind == RPC_FC_WSTRING) args[k].pointer = text.data();
        if (p.kind == RPC_FC_INT32_REF) args[k].pointer = &status;
        if (p.kind == RPC_FC_COUNT_REF) args[k].pointer = &count;
        if (p.IsOutArray()) args[k].pointer = buffer.data();
    }
    std::vector<uint8_t> stub = Hex(c.stub);
    StagedResponse staged;
    EXPECT_EQ(DecodeClientResponse(shape, args, stub.data(), stub.size(), staged), RPC_X_BAD_STUB_DATA);
    EXPECT_EQ(count, c.capacity) << "the caller's count is left alone";
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xEE; }));
}

INSTANTIATE_TEST_SUITE_P(Stubs, BadResponseTest, ::testing::ValuesIn(kBadResponses),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PduHeader, FragmentLongerThanTheLimitIsRefusedEvenWhenPresent) {
    std::vector<uint8_t> pdu = wire::EncodeRequest(2, wire::kSingleFrag, 0, 0, 0, nullptr, 0);
    pdu.resize(5841);
    pdu[8] = static_cast<uint8_t>(5841 & 0xff);
    pdu[9] = static_cast<uint8_t>(5841 >> 8);
    wire::Header header;
    EXPECT_FALSE(wire::DecodeWholePdu(pdu, 5840, header));
    EXPECT_TRUE(wire::DecodeWholePdu(pdu, 5841, header));
}

TEST(ProcedureFormat, MalformedDescriptionsAreRefused) {
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        {"NoMarker", {0x51, 0, 0, 0, 0}},
        {"UnknownFlag", {RPC_FC_PROC, 0, 0, 0x02, 0}},
        {"TooManyParams", {RPC_FC_PROC, 0, 0, 0, 9}},
        {"StringAsOutput", {RPC_FC_PROC, 0, 0, 0, 1, RPC_FC_DIR_OUT, RPC_FC_WSTRING, RPC_FC_NO_SIZE}},
        {"UnknownKind", {RPC_FC_PROC, 0, 0, 0, 1, RPC_FC_DIR_IN, 9, RPC_FC_NO_SIZE}},
        {"ArrayWithoutSizer", {RPC_FC_PROC, 0, 0, 0, 1, RPC_FC_DIR_OUT, RPC_FC_BYTE_ARRAY, RPC_FC_NO_SIZE}},
        {"ArraySizedBySelf", {RPC_FC_PROC, 0, 0, 0, 1, RPC_FC_DIR_OUT, RPC_FC_BYTE_ARRAY, 0}},
        {"OutArraySizedByValue",
         {RPC_FC_PROC, 0, 0, 0, 2, RPC_FC_DIR_OUT, RPC_FC_BYTE_ARRAY, 1, RPC_FC_DIR_IN, RPC_FC_UINT32, RPC_FC_NO_SIZE}},
        {"InArraySizedByCount",
         {RPC_FC_PROC, 0, 0, 0, 2, RPC_FC_DIR_IN, RPC_FC_BYTE_ARRAY, 1, RPC_FC_DIR_INOUT, RPC_FC_COUNT_REF,
          RPC_FC_NO_SIZE}},
        {"CountNotInOut", {RPC_FC_PROC, 0, 0, 0, 1, RPC_FC_DIR_IN, RPC_FC_COUNT_REF, RPC_FC_NO_SIZE}},
        {"ParamsBeyondEnd", {RPC_FC_PROC, 0, 0, 0, 2, RPC_FC_DIR_IN, RPC_FC_UINT32, RPC_FC_NO_SIZE}},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ParseProcedure(c.bytes.data(), c.bytes.size())) << c.name;
    }
}

}  // namespace
}  // namespace platform::rpc
