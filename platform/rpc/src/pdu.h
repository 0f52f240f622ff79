// DCE/RPC connection-oriented PDUs: the 16-byte common header and the bodies
// of bind, bind_ack, bind_nak, alter_context(_resp), request, response and
// fault. Layouts in FORMAT.md. Encoders build whole PDUs (frag_length filled
// in); decoders take one whole PDU, check every length before reading, and
// answer false for anything malformed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rpc.h"

namespace platform::rpc::wire {

enum PduType : uint8_t {
    kRequest = 0,
    kResponse = 2,
    kFault = 3,
    kBind = 11,
    kBindAck = 12,
    kBindNak = 13,
    kAlterContext = 14,
    kAlterContextResp = 15,
    kAuth3 = 16,
    kShutdown = 17,
    kCoCancel = 18,
    kOrphaned = 19,
};

constexpr uint8_t kFirstFrag = 0x01;
constexpr uint8_t kLastFrag = 0x02;
constexpr uint8_t kSingleFrag = kFirstFrag | kLastFrag;
constexpr uint8_t kDidNotExecute = 0x20;
constexpr uint8_t kObjectUuid = 0x80;

constexpr size_t kHeaderSize = 16;
constexpr size_t kRequestHeaderSize = 24;
constexpr size_t kResponseHeaderSize = 24;
constexpr size_t kFaultSize = 32;

// Result and reason codes of a presentation context in bind_ack.
constexpr uint16_t kAcceptance = 0;
constexpr uint16_t kProviderRejection = 2;
constexpr uint16_t kNegotiateAck = 3;
constexpr uint16_t kReasonNotSpecified = 0;
constexpr uint16_t kAbstractSyntaxNotSupported = 1;
constexpr uint16_t kTransferSyntaxesNotSupported = 2;
// bind_nak reasons.
constexpr uint16_t kNakNotSpecified = 0;
constexpr uint16_t kNakLocalLimitExceeded = 2;
constexpr uint16_t kNakProtocolVersionNotSupported = 4;

struct Header {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint16_t fragLength = 0;
    uint16_t authLength = 0;
    uint32_t callId = 0;
};

struct ContextElement {
    uint16_t contextId = 0;
    RPC_SYNTAX_IDENTIFIER abstractSyntax{};
    std::vector<RPC_SYNTAX_IDENTIFIER> transferSyntaxes;
};

struct BindBody {  // bind and alter_context
    uint16_t maxXmitFrag = 0;
    uint16_t maxRecvFrag = 0;
    uint32_t assocGroupId = 0;
    std::vector<ContextElement> contexts;
};

struct ContextResult {
    uint16_t result = 0;
    uint16_t reason = 0;
    RPC_SYNTAX_IDENTIFIER transferSyntax{};
};

struct BindAckBody {  // bind_ack and alter_context_resp
    uint16_t maxXmitFrag = 0;
    uint16_t maxRecvFrag = 0;
    uint32_t assocGroupId = 0;
    std::string secondaryAddress;  // without its NUL; empty = length 0
    std::vector<ContextResult> results;
};

struct RequestBody {
    uint32_t allocHint = 0;
    uint16_t contextId = 0;
    uint16_t opnum = 0;
    const uint8_t* stub = nullptr;  // points into the decoded PDU
    size_t stubSize = 0;
};

struct ResponseBody {
    uint32_t allocHint = 0;
    uint16_t contextId = 0;
    uint8_t cancelCount = 0;
    const uint8_t* stub = nullptr;  // points into the decoded PDU
    size_t stubSize = 0;
};

struct FaultBody {
    uint32_t allocHint = 0;
    uint16_t contextId = 0;
    uint32_t status = 0;
};

// Checks the common header of a PDU of at least kHeaderSize bytes: version
// 5.0 (minor 1 accepted), little-endian ASCII IEEE data representation, a
// frag_length from kHeaderSize to maxFrag, no auth trailer. Fills header.
bool DecodeHeader(const uint8_t* data, size_t size, uint16_t maxFrag, Header& header);

// DecodeHeader on a buffer that must hold exactly one whole PDU.
bool DecodeWholePdu(const std::vector<uint8_t>& pdu, uint16_t maxFrag, Header& header);

std::vector<uint8_t> EncodeBind(uint8_t type, uint32_t callId, const BindBody& body);
std::vector<uint8_t> EncodeBindAck(uint8_t type, uint32_t callId, const BindAckBody& body);
std::vector<uint8_t> EncodeBindNak(uint32_t callId, uint16_t reason);
std::vector<uint8_t> EncodeRequest(uint32_t callId, uint8_t flags, uint32_t allocHint, uint16_t contextId,
                                   uint16_t opnum, const uint8_t* stub, size_t stubSize);
std::vector<uint8_t> EncodeResponse(uint32_t callId, uint8_t flags, uint32_t allocHint, uint16_t contextId,
                                    const uint8_t* stub, size_t stubSize);
std::vector<uint8_t> EncodeFault(uint32_t callId, uint8_t flags, uint16_t contextId, uint32_t status);

// Body decoders: pdu is one whole PDU whose header DecodeHeader accepted.
bool DecodeBind(const std::vector<uint8_t>& pdu, BindBody& body);
bool DecodeBindAck(const std::vector<uint8_t>& pdu, BindAckBody& body);
bool DecodeBindNak(const std::vector<uint8_t>& pdu, uint16_t& reason);
bool DecodeRequest(const std::vector<uint8_t>& pdu, uint8_t flags, RequestBody& body);
bool DecodeResponse(const std::vector<uint8_t>& pdu, ResponseBody& body);
bool DecodeFault(const std::vector<uint8_t>& pdu, FaultBody& body);

// Splits a stub into request (or response) fragments of at most maxFrag
// bytes each; non-last fragments carry a multiple of 16 stub bytes, and
// alloc_hint is the number of stub bytes from each fragment on.
std::vector<std::vector<uint8_t>> FragmentRequest(uint32_t callId, uint16_t contextId, uint16_t opnum,
                                                  const std::vector<uint8_t>& stub, uint16_t maxFrag);
std::vector<std::vector<uint8_t>> FragmentResponse(uint32_t callId, uint16_t contextId,
                                                   const std::vector<uint8_t>& stub, uint16_t maxFrag);

bool SameSyntax(const RPC_SYNTAX_IDENTIFIER& a, const RPC_SYNTAX_IDENTIFIER& b);

}  // namespace platform::rpc::wire
