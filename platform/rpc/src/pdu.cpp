#include "pdu.h"

#include <algorithm>

#include "wire_buffer.h"

namespace platform::rpc::wire {

namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kDrepLittleEndian = 0x10;
constexpr size_t kSyntaxSize = 20;

// Writes the common header with frag_length 0; FinishPdu fills it.
void BeginPdu(Writer& out, uint8_t type, uint8_t flags, uint32_t callId) {
    out.U8(kVersion);
    out.U8(0);
    out.U8(type);
    out.U8(flags);
    out.Bytes("\x10\x00\x00\x00", 4);
    out.U16(0);  // frag_length
    out.U16(0);  // auth_length
    out.U32(callId);
}

std::vector<uint8_t> FinishPdu(Writer& out) {
    out.PatchU16(8, static_cast<uint16_t>(out.size()));
    return out.Take();
}

void PutGuid(Writer& out, const GUID& guid) {
    out.U32(guid.Data1);
    out.U16(guid.Data2);
    out.U16(guid.Data3);
    out.Bytes(guid.Data4, sizeof guid.Data4);
}

void PutSyntax(Writer& out, const RPC_SYNTAX_IDENTIFIER& syntax) {
    PutGuid(out, syntax.SyntaxGUID);
    out.U16(syntax.SyntaxVersion.MajorVersion);
    out.U16(syntax.SyntaxVersion.MinorVersion);
}

bool GetSyntax(Reader& in, RPC_SYNTAX_IDENTIFIER& syntax) {
    if (!in.Need(kSyntaxSize)) return false;
    GUID& guid = syntax.SyntaxGUID;
    return in.U32(guid.Data1) && in.U16(guid.Data2) && in.U16(guid.Data3) && in.Bytes(guid.Data4, 8) &&
           in.U16(syntax.SyntaxVersion.MajorVersion) && in.U16(syntax.SyntaxVersion.MinorVersion);
}

// A reader over the PDU's bytes up to frag_length, positioned after the header.
Reader BodyReader(const std::vector<uint8_t>& pdu) {
    Reader in(pdu.data(), pdu.size());
    in.Skip(kHeaderSize);
    return in;
}

bool GetContext(Reader& in, ContextElement& context) {
    uint8_t transferCount = 0;
    if (!in.U16(context.contextId) || !in.U8(transferCount) || !in.Skip(1)) return false;
    if (!GetSyntax(in, context.abstractSyntax)) return false;
    if (!in.Need(kSyntaxSize * transferCount)) return false;
    context.transferSyntaxes.resize(transferCount);
    for (auto& syntax : context.transferSyntaxes) GetSyntax(in, syntax);
    return true;
}

std::vector<std::vector<uint8_t>> Fragment(const std::vector<uint8_t>& stub, uint16_t maxFrag,
                                           const auto& encodeOne) {
    size_t room = maxFrag > kRequestHeaderSize ? maxFrag - kRequestHeaderSize : 0;
    size_t chunk = std::max<size_t>(room & ~size_t{15}, 16);
    std::vector<std::vector<uint8_t>> fragments;
    size_t at = 0;
    do {
        size_t size = std::min(chunk, stub.size() - at);
        uint8_t flags = static_cast<uint8_t>((at == 0 ? kFirstFrag : 0) | (at + size == stub.size() ? kLastFrag : 0));
        fragments.push_back(encodeOne(flags, static_cast<uint32_t>(stub.size() - at), stub.data() + at, size));
        at += size;
    } while (at < stub.size());
    return fragments;
}

}  // namespace

bool SameSyntax(const RPC_SYNTAX_IDENTIFIER& a, const RPC_SYNTAX_IDENTIFIER& b) {
    return a.SyntaxGUID == b.SyntaxGUID && a.SyntaxVersion.MajorVersion == b.SyntaxVersion.MajorVersion &&
           a.SyntaxVersion.MinorVersion == b.SyntaxVersion.MinorVersion;
}

bool DecodeHeader(const uint8_t* data, size_t size, uint16_t maxFrag, Header& header) {
    Reader in(data, size);
    uint8_t version = 0, minor = 0, drep[4] = {};
    if (!in.U8(version) || !in.U8(minor) || !in.U8(header.type) || !in.U8(header.flags) || !in.Bytes(drep, 4) ||
        !in.U16(header.fragLength) || !in.U16(header.authLength) || !in.U32(header.callId)) {
        return false;
    }
    if (version != kVersion || minor > 1) return false;
    if (drep[0] != kDrepLittleEndian || drep[1] != 0) return false;  // LE integers, ASCII, IEEE floats
    if (header.fragLength < kHeaderSize || header.fragLength > maxFrag) return false;
    return header.authLength == 0;
}

bool DecodeWholePdu(const std::vector<uint8_t>& pdu, uint16_t maxFrag, Header& header) {
    return DecodeHeader(pdu.data(), pdu.size(), maxFrag, header) && header.fragLength == pdu.size();
}

std::vector<uint8_t> EncodeBind(uint8_t type, uint32_t callId, const BindBody& body) {
    Writer out;
    BeginPdu(out, type, kSingleFrag, callId);
    out.U16(body.maxXmitFrag);
    out.U16(body.maxRecvFrag);
    out.U32(body.assocGroupId);
    out.U8(static_cast<uint8_t>(body.contexts.size()));
    out.Zeros(3);
    for (const auto& context : body.contexts) {
        out.U16(context.contextId);
        out.U8(static_cast<uint8_t>(context.transferSyntaxes.size()));
        out.U8(0);
        PutSyntax(out, context.abstractSyntax);
        for (const auto& syntax : context.transferSyntaxes) PutSyntax(out, syntax);
    }
    return FinishPdu(out);
}

std::vector<uint8_t> EncodeBindAck(uint8_t type, uint32_t callId, const BindAckBody& body) {
    Writer out;
    BeginPdu(out, type, kSingleFrag, callId);
    out.U16(body.maxXmitFrag);
    out.U16(body.maxRecvFrag);
    out.U32(body.assocGroupId);
    if (body.secondaryAddress.empty()) {
        out.U16(0);
    } else {
        out.U16(static_cast<uint16_t>(body.secondaryAddress.size() + 1));
        out.Bytes(body.secondaryAddress.data(), body.secondaryAddress.size());
        out.U8(0);
    }
    out.Align(4);
    out.U8(static_cast<uint8_t>(body.results.size()));
    out.Zeros(3);
    for (const auto& result : body.results) {
        out.U16(result.result);
        out.U16(result.reason);
        PutSyntax(out, result.transferSyntax);
    }
    return FinishPdu(out);
}

std::vector<uint8_t> EncodeBindNak(uint32_t callId, uint16_t reason) {
    Writer out;
    BeginPdu(out, kBindNak, kSingleFrag, callId);
    out.U16(reason);
    out.U8(1);  // one supported protocol version: 5.0
    out.U8(kVersion);
    out.U8(0);
    out.Zeros(3);
    return FinishPdu(out);
}

std::vector<uint8_t> EncodeRequest(uint32_t callId, uint8_t flags, uint32_t allocHint, uint16_t contextId,
                                   uint16_t opnum, const uint8_t* stub, size_t stubSize) {
    Writer out;
    BeginPdu(out, kRequest, flags, callId);
    out.U32(allocHint);
    out.U16(contextId);
    out.U16(opnum);
    out.Bytes(stub, stubSize);
    return FinishPdu(out);
}

std::vector<uint8_t> EncodeResponse(uint32_t callId, uint8_t flags, uint32_t allocHint, uint16_t contextId,
                                    const uint8_t* stub, size_t stubSize) {
    Writer out;
    BeginPdu(out, kResponse, flags, callId);
    out.U32(allocHint);
    out.U16(contextId);
    out.U8(0);  // cancel_count
    out.U8(0);
    out.Bytes(stub, stubSize);
    return FinishPdu(out);
}

std::vector<uint8_t> EncodeFault(uint32_t callId, uint8_t flags, uint16_t contextId, uint32_t status) {
    Writer out;
    BeginPdu(out, kFault, flags, callId);
    out.U32(0);  // alloc_hint
    out.U16(contextId);
    out.U8(0);  // cancel_count
    out.U8(0);  // flags: no extended error information
    out.U32(status);
    out.U32(0);
    return FinishPdu(out);
}

bool DecodeBind(const std::vector<uint8_t>& pdu, BindBody& body) {
    Reader in = BodyReader(pdu);
    uint8_t count = 0;
    if (!in.U16(body.maxXmitFrag) || !in.U16(body.maxRecvFrag) || !in.U32(body.assocGroupId) || !in.U8(count) ||
        !in.Skip(3)) {
        return false;
    }
    body.contexts.resize(count);
    for (auto& context : body.contexts) {
        if (!GetContext(in, context)) return false;
    }
    return true;
}

bool DecodeBindAck(const std::vector<uint8_t>& pdu, BindAckBody& body) {
    Reader in = BodyReader(pdu);
    uint16_t addressLength = 0;
    const uint8_t* address = nullptr;
    if (!in.U16(body.maxXmitFrag) || !in.U16(body.maxRecvFrag) || !in.U32(body.assocGroupId) ||
        !in.U16(addressLength) || !in.View(address, addressLength) || !in.Align(4)) {
        return false;
    }
    if (addressLength > 0 && address[addressLength - 1] != 0) return false;
    body.secondaryAddress.assign(reinterpret_cast<const char*>(address), addressLength > 0 ? addressLength - 1 : 0);
    uint8_t count = 0;
    if (!in.U8(count) || !in.Skip(3) || !in.Need(24 * size_t{count})) return false;
    body.results.resize(count);
    for (auto& result : body.results) {
        in.U16(result.result);
        in.U16(result.reason);
        GetSyntax(in, result.transferSyntax);
    }
    return true;
}

bool DecodeBindNak(const std::vector<uint8_t>& pdu, uint16_t& reason) {
    Reader in = BodyReader(pdu);
    return in.U16(reason);
}

bool DecodeRequest(const std::vector<uint8_t>& pdu, uint8_t flags, RequestBody& body) {
    Reader in = BodyReader(pdu);
    if (!in.U32(body.allocHint) || !in.U16(body.contextId) || !in.U16(body.opnum)) return false;
    if ((flags & kObjectUuid) != 0 && !in.Skip(16)) return false;
    body.stubSize = in.remaining();
    return in.View(body.stub, body.stubSize);
}

bool DecodeResponse(const std::vector<uint8_t>& pdu, ResponseBody& body) {
    Reader in = BodyReader(pdu);
    if (!in.U32(body.allocHint) || !in.U16(body.contextId) || !in.U8(body.cancelCount) || !in.Skip(1)) return false;
    body.stubSize = in.remaining();
    return in.View(body.stub, body.stubSize);
}

bool DecodeFault(const std::vector<uint8_t>& pdu, FaultBody& body) {
    Reader in = BodyReader(pdu);
    // The trailing reserved word is required: a 28-byte fault is malformed.
    return in.U32(body.allocHint) && in.U16(body.contextId) && in.Skip(2) && in.U32(body.status) && in.Skip(4);
}

std::vector<std::vector<uint8_t>> FragmentRequest(uint32_t callId, uint16_t contextId, uint16_t opnum,
                                                  const std::vector<uint8_t>& stub, uint16_t maxFrag) {
    return Fragment(stub, maxFrag, [&](uint8_t flags, uint32_t hint, const uint8_t* part, size_t size) {
        return EncodeRequest(callId, flags, hint, contextId, opnum, part, size);
    });
}

std::vector<std::vector<uint8_t>> FragmentResponse(uint32_t callId, uint16_t contextId,
                                                   const std::vector<uint8_t>& stub, uint16_t maxFrag) {
    return Fragment(stub, maxFrag, [&](uint8_t flags, uint32_t hint, const uint8_t* part, size_t size) {
        return EncodeResponse(callId, flags, hint, contextId, part, size);
    });
}

}  // namespace platform::rpc::wire
