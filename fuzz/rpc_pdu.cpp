// Every PDU decoder on one input: the common header, then each body decoder
// (whatever the type says, since a decoder must be safe on any PDU whose
// header passed). A body that decodes is encoded again and must decode to the
// same fields.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "pdu.h"

namespace {

using namespace platform::rpc::wire;

bool SameContexts(const std::vector<ContextElement>& a, const std::vector<ContextElement>& b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].contextId != b[k].contextId || !SameSyntax(a[k].abstractSyntax, b[k].abstractSyntax) ||
            a[k].transferSyntaxes.size() != b[k].transferSyntaxes.size()) {
            return false;
        }
        for (size_t t = 0; t < a[k].transferSyntaxes.size(); ++t) {
            if (!SameSyntax(a[k].transferSyntaxes[t], b[k].transferSyntaxes[t])) return false;
        }
    }
    return true;
}

void CheckBind(const std::vector<uint8_t>& pdu, const Header& header) {
    BindBody body;
    if (!DecodeBind(pdu, body)) return;
    auto again = EncodeBind(header.type, header.callId, body);
    Header h2;
    FUZZ_CHECK(DecodeWholePdu(again, 65535, h2));
    BindBody body2;
    FUZZ_CHECK(DecodeBind(again, body2));
    FUZZ_CHECK(body2.maxXmitFrag == body.maxXmitFrag && body2.maxRecvFrag == body.maxRecvFrag &&
               body2.assocGroupId == body.assocGroupId && SameContexts(body.contexts, body2.contexts));
}

void CheckBindAck(const std::vector<uint8_t>& pdu, const Header& header) {
    BindAckBody body;
    if (!DecodeBindAck(pdu, body)) return;
    // An address with an inner NUL cannot be written back unchanged.
    if (body.secondaryAddress.find('\0') != std::string::npos) return;
    auto again = EncodeBindAck(header.type, header.callId, body);
    Header h2;
    FUZZ_CHECK(DecodeWholePdu(again, 65535, h2));
    BindAckBody body2;
    FUZZ_CHECK(DecodeBindAck(again, body2));
    FUZZ_CHECK(body2.secondaryAddress == body.secondaryAddress && body2.results.size() == body.results.size() &&
               body2.assocGroupId == body.assocGroupId);
    for (size_t k = 0; k < body.results.size(); ++k) {
        FUZZ_CHECK(body2.results[k].result == body.results[k].result &&
                   body2.results[k].reason == body.results[k].reason &&
                   SameSyntax(body2.results[k].transferSyntax, body.results[k].transferSyntax));
    }
}

void CheckRequest(const std::vector<uint8_t>& pdu, const Header& header) {
    RequestBody body;
    if (!DecodeRequest(pdu, header.flags, body)) return;
    FUZZ_CHECK(body.stub >= pdu.data() && body.stub + body.stubSize == pdu.data() + pdu.size());
    auto again = EncodeRequest(header.callId, header.flags & ~kObjectUuid, body.allocHint, body.contextId, body.opnum,
                               body.stub, body.stubSize);
    RequestBody body2;
    FUZZ_CHECK(DecodeRequest(again, header.flags & ~kObjectUuid, body2));
    FUZZ_CHECK(body2.opnum == body.opnum && body2.contextId == body.contextId && body2.stubSize == body.stubSize);
}

void CheckResponse(const std::vector<uint8_t>& pdu, const Header& header) {
    ResponseBody body;
    if (!DecodeResponse(pdu, body)) return;
    FUZZ_CHECK(body.stub >= pdu.data() && body.stub + body.stubSize == pdu.data() + pdu.size());
    auto again = EncodeResponse(header.callId, header.flags, body.allocHint, body.contextId, body.stub, body.stubSize);
    ResponseBody body2;
    FUZZ_CHECK(DecodeResponse(again, body2));
    FUZZ_CHECK(body2.contextId == body.contextId && body2.stubSize == body.stubSize);
}

void CheckFault(const std::vector<uint8_t>& pdu, const Header& header) {
    FaultBody body;
    if (!DecodeFault(pdu, body)) return;
    auto again = EncodeFault(header.callId, header.flags, body.contextId, body.status);
    FaultBody body2;
    FUZZ_CHECK(DecodeFault(again, body2) && body2.status == body.status && body2.contextId == body.contextId);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Header header;
    if (!DecodeHeader(data, size, 65535, header)) return 0;
    FUZZ_CHECK(header.fragLength >= kHeaderSize);
    if (header.fragLength > size) return 0;
    // Exactly the bytes the header claims, in a buffer of that size, as the
    // transport hands a PDU to the decoders.
    std::vector<uint8_t> pdu(data, data + header.fragLength);
    Header whole;
    FUZZ_CHECK(DecodeWholePdu(pdu, 65535, whole) && whole.type == header.type);
    CheckBind(pdu, header);
    CheckBindAck(pdu, header);
    uint16_t reason = 0;
    (void)DecodeBindNak(pdu, reason);
    CheckRequest(pdu, header);
    CheckResponse(pdu, header);
    CheckFault(pdu, header);
    return 0;
}
