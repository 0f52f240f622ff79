// NdrClientCall2: one procedure call over a bound binding. The request is
// encoded from the procedure's description, sent in fragments the server
// accepts, the response reassembled, decoded and checked in full, and only
// then written into the caller's outputs.
#include <cstdarg>

#include "binding.h"
#include "ndr_stub.h"
#include "pdu.h"
#include "platform/errors.h"
#include "procedure.h"
#include "fault_codes.h"

namespace platform::rpc {

namespace {

using transport::Io;

// The shape of the procedure `format` describes, if it is one of stub's.
std::optional<ProcedureShape> ShapeFor(PMIDL_STUB_DESC stub, PFORMAT_STRING format) {
    if (stub == nullptr || stub->ProcTable == nullptr || stub->RpcInterfaceInformation == nullptr ||
        format == nullptr) {
        return std::nullopt;
    }
    const RPC_PROCEDURE_TABLE& table = *stub->ProcTable;
    for (unsigned short k = 0; k < table.Count; ++k) {
        if (table.Format + table.Offsets[k] != format) continue;
        auto shape = ParseProcedure(format, 5 + 3 * RPC_FC_MAX_PARAMS);
        if (shape && shape->opnum == k) return shape;
    }
    return std::nullopt;
}

[[noreturn]] void Fail(Binding& binding, RPC_STATUS status, bool connectionLost) {
    if (connectionLost) {
        binding.broken = true;
        binding.socket.reset();
    }
    throw RpcException(status);
}

void SendRequest(Binding& binding, uint32_t callId, uint16_t opnum, const std::vector<uint8_t>& stub) {
    auto fragments = wire::FragmentRequest(callId, binding.contextId, opnum, stub, binding.sendFragment);
    for (size_t k = 0; k < fragments.size(); ++k) {
        if (transport::SendAll(binding.socket.get(), fragments[k], binding.ReplyTimeoutMs()) != Io::Ok) {
            Fail(binding, k == 0 ? RPC_S_CALL_FAILED_DNE : RPC_S_CALL_FAILED, true);
        }
    }
}

// Adds one response fragment to stub. Returns true after the last one.
bool TakeResponseFragment(Binding& binding, const std::vector<uint8_t>& pdu, const wire::Header& header,
                          size_t fragments, std::vector<uint8_t>& stub) {
    wire::ResponseBody body;
    bool first = (header.flags & wire::kFirstFrag) != 0;
    if (!wire::DecodeResponse(pdu, body) || first != (fragments == 0) || fragments >= kMaxResponseFragments ||
        stub.size() + body.stubSize > kMaxResponseBytes) {
        Fail(binding, RPC_S_PROTOCOL_ERROR, true);
    }
    stub.insert(stub.end(), body.stub, body.stub + body.stubSize);
    return (header.flags & wire::kLastFrag) != 0;
}

std::vector<uint8_t> ReceiveResponse(Binding& binding, uint32_t callId) {
    std::vector<uint8_t> stub, pdu;
    for (size_t fragments = 0;; ++fragments) {
        wire::Header header;
        Io io = binding.reader.Read(binding.socket.get(), kClientMaxFragment, binding.ReplyTimeoutMs(), -1,
                                    transport::PduReader::Arrival::Awaited, pdu, header);
        if (io == Io::Malformed) Fail(binding, RPC_S_PROTOCOL_ERROR, true);
        if (io != Io::Ok) Fail(binding, RPC_S_CALL_FAILED, true);
        if (header.callId != callId) Fail(binding, RPC_S_PROTOCOL_ERROR, true);
        if (header.type == wire::kFault) {
            wire::FaultBody fault;
            if (!wire::DecodeFault(pdu, fault)) Fail(binding, RPC_S_PROTOCOL_ERROR, true);
            Fail(binding, StatusFromFault(fault.status), fragments != 0);
        }
        if (header.type != wire::kResponse) Fail(binding, RPC_S_PROTOCOL_ERROR, true);
        if (TakeResponseFragment(binding, pdu, header, fragments, stub)) return stub;
    }
}

CLIENT_CALL_RETURN Call(RPC_BINDING_HANDLE handle, PMIDL_STUB_DESC stub, const ProcedureShape& shape,
                        const ClientArgs& args) {
    auto binding = FindBinding(handle);
    if (!binding) throw RpcException(RPC_S_INVALID_BINDING);
    std::lock_guard guard(binding->lock);
    if (!binding->bound) throw RpcException(RPC_S_INVALID_BINDING);
    if (binding->broken) throw RpcException(RPC_S_CALL_FAILED_DNE);
    const auto& iface = *static_cast<const RPC_CLIENT_INTERFACE*>(stub->RpcInterfaceInformation);
    if (!wire::SameSyntax(iface.InterfaceId, binding->interfaceId)) throw RpcException(RPC_S_UNKNOWN_IF);

    std::vector<uint8_t> request;
    if (RPC_STATUS status = EncodeClientRequest(shape, args, request); status != RPC_S_OK) throw RpcException(status);
    uint32_t callId = binding->nextCallId++;
    SendRequest(*binding, callId, shape.opnum, request);
    std::vector<uint8_t> response = ReceiveResponse(*binding, callId);

    StagedResponse staged;
    RPC_STATUS status = DecodeClientResponse(shape, args, response.data(), response.size(), staged);
    if (status != RPC_S_OK) throw RpcException(status);
    CommitClientResponse(shape, args, staged);
    CLIENT_CALL_RETURN result{};
    result.Simple = staged.returnValue;
    return result;
}

}  // namespace

}  // namespace platform::rpc

extern "C" CLIENT_CALL_RETURN NdrClientCall2(PMIDL_STUB_DESC stub, PFORMAT_STRING format, ...) {
    using namespace platform::rpc;
    auto shape = ShapeFor(stub, format);
    ClientArgs args{};
    va_list list;
    va_start(list, format);
    RPC_BINDING_HANDLE handle = va_arg(list, RPC_BINDING_HANDLE);
    for (unsigned char k = 0; shape && k < shape->count; ++k) {
        if (shape->params[k].kind == RPC_FC_UINT32) {
            args[k].value = va_arg(list, unsigned int);
        } else {
            args[k].pointer = va_arg(list, void*);
        }
    }
    va_end(list);
    if (!shape) throw platform::RpcException(RPC_S_INTERNAL_ERROR);
    return Call(handle, stub, *shape, args);
}
