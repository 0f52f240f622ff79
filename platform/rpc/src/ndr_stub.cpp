#include "ndr_stub.h"

#include <cstring>

#include "wire_buffer.h"

namespace platform::rpc {

namespace {

using wire::Reader;
using wire::Writer;

size_t StringUnits(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length + 1;  // with the terminator
}

void PutString(Writer& out, const WCHAR* text) {
    auto units = static_cast<uint32_t>(StringUnits(text));
    out.Align(4);
    out.U32(units);  // MaxCount
    out.U32(0);      // Offset
    out.U32(units);  // ActualCount
    for (uint32_t k = 0; k < units; ++k) out.U16(text[k]);
}

// The capacity the caller passed in the count that sizes out array `param`.
uint32_t CapacityOf(const ProcedureShape& shape, const ClientArgs& args, unsigned char param) {
    return *static_cast<const ULONG*>(args[shape.params[param].sizedBy].pointer);
}

bool GetOutArray(Reader& in, const ProcedureShape& shape, const ClientArgs& args, unsigned char k,
                 StagedOutput& out) {
    if (!in.Align(4) || !in.U32(out.elementCount)) return false;
    if (out.elementCount > CapacityOf(shape, args, k)) return false;  // checked before any element is looked at
    return in.View(out.elements, size_t{out.elementCount} * shape.params[k].ElementSize());
}

bool GetString(Reader& in, std::u16string& text) {
    uint32_t max = 0, offset = 0, actual = 0;
    if (!in.Align(4) || !in.U32(max) || !in.U32(offset) || !in.U32(actual)) return false;
    if (offset != 0 || actual == 0 || actual > max || !in.Need(size_t{actual} * 2)) return false;
    text.resize(actual - 1);
    for (auto& unit : text) {
        uint16_t raw = 0;
        in.U16(raw);
        unit = static_cast<char16_t>(raw);
    }
    uint16_t terminator = 1;
    return in.U16(terminator) && terminator == 0;
}

bool GetInArray(Reader& in, std::vector<uint8_t>& bytes) {
    uint32_t count = 0;
    if (!in.Align(4) || !in.U32(count) || !in.Need(count)) return false;
    bytes.resize(count);
    return in.Bytes(bytes.data(), count);
}

// The count sent for COUNT_REF `index`: the length of the array it sizes.
uint32_t CountToSend(const ProcedureShape& shape, const RpcCall& call, unsigned char index) {
    auto array = shape.ArraySizedBy(index);
    if (!array) return call.args[index].value;
    const RpcArgument& out = call.args[*array];
    return static_cast<uint32_t>(shape.params[*array].kind == RPC_FC_WCHAR_ARRAY ? out.units.size() : out.bytes.size());
}

bool PutOutArray(Writer& out, const ProcedureShape& shape, const RpcCall& call, unsigned char k) {
    const RpcArgument& arg = call.args[k];
    uint32_t count = CountToSend(shape, call, shape.params[k].sizedBy);
    if (count > call.args[shape.params[k].sizedBy].capacity) return false;
    out.Align(4);
    out.U32(count);
    if (shape.params[k].kind == RPC_FC_WCHAR_ARRAY) {
        for (char16_t unit : arg.units) out.U16(unit);
    } else {
        out.Bytes(arg.bytes.data(), arg.bytes.size());
    }
    return true;
}

}  // namespace

RPC_STATUS EncodeClientRequest(const ProcedureShape& shape, const ClientArgs& args, std::vector<uint8_t>& stub) {
    for (unsigned char k = 0; k < shape.count; ++k) {
        if (shape.params[k].kind != RPC_FC_UINT32 && args[k].pointer == nullptr) return RPC_X_NULL_REF_POINTER;
    }
    Writer out;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (!param.IsIn()) continue;
        if (param.kind == RPC_FC_WSTRING) {
            PutString(out, static_cast<const WCHAR*>(args[k].pointer));
        } else if (param.kind == RPC_FC_UINT32) {
            out.Align(4);
            out.U32(args[k].value);
        } else if (param.kind == RPC_FC_COUNT_REF) {
            out.Align(4);
            out.U32(*static_cast<const ULONG*>(args[k].pointer));
        } else {  // in byte block sized by a by-value parameter
            uint32_t length = args[param.sizedBy].value;
            out.Align(4);
            out.U32(length);
            out.Bytes(args[k].pointer, length);
        }
    }
    stub = out.Take();
    return RPC_S_OK;
}

RPC_STATUS DecodeClientResponse(const ProcedureShape& shape, const ClientArgs& args, const uint8_t* stub,
                                size_t size, StagedResponse& staged) {
    Reader in(stub, size);
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        StagedOutput& out = staged.outputs[k];
        if (!param.IsOut()) continue;
        bool ok = param.IsOutArray() ? GetOutArray(in, shape, args, k, out) : (in.Align(4) && in.U32(out.value));
        if (!ok) return RPC_X_BAD_STUB_DATA;
    }
    if (shape.returnsInt32 && !(in.Align(4) && in.I32(staged.returnValue))) return RPC_X_BAD_STUB_DATA;
    if (in.remaining() != 0) return RPC_X_BAD_STUB_DATA;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (param.IsOutArray() && staged.outputs[k].elementCount != staged.outputs[param.sizedBy].value) {
            return RPC_X_BAD_STUB_DATA;  // conformance differs from the count returned with it
        }
    }
    return RPC_S_OK;
}

void CommitClientResponse(const ProcedureShape& shape, const ClientArgs& args, const StagedResponse& staged) {
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        const StagedOutput& out = staged.outputs[k];
        if (!param.IsOut()) continue;
        if (param.kind == RPC_FC_INT32_REF) {
            *static_cast<LONG*>(args[k].pointer) = static_cast<LONG>(out.value);
        } else if (param.kind == RPC_FC_COUNT_REF) {
            *static_cast<ULONG*>(args[k].pointer) = out.value;
        } else if (param.kind == RPC_FC_WCHAR_ARRAY) {
            auto* units = static_cast<WCHAR*>(args[k].pointer);
            for (uint32_t e = 0; e < out.elementCount; ++e) {
                units[e] = static_cast<WCHAR>(out.elements[2 * e] | (out.elements[2 * e + 1] << 8));
            }
        } else if (out.elementCount != 0) {
            std::memcpy(args[k].pointer, out.elements, out.elementCount);
        }
    }
}

RPC_STATUS DecodeServerRequest(const ProcedureShape& shape, const uint8_t* stub, size_t size,
                               std::vector<RpcArgument>& args) {
    Reader in(stub, size);
    args.assign(shape.count, RpcArgument{});
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        RpcArgument& arg = args[k];
        arg.direction = param.direction;
        arg.kind = param.kind;
        if (!param.IsIn()) continue;
        bool ok = false;
        if (param.kind == RPC_FC_WSTRING) {
            ok = GetString(in, arg.text);
        } else if (param.kind == RPC_FC_BYTE_ARRAY) {
            ok = GetInArray(in, arg.bytes);
        } else {
            ok = in.Align(4) && in.U32(arg.value);
            arg.capacity = arg.value;
        }
        if (!ok) return RPC_X_BAD_STUB_DATA;
    }
    if (in.remaining() != 0) return RPC_X_BAD_STUB_DATA;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (param.IsIn() && param.kind == RPC_FC_BYTE_ARRAY && args[k].bytes.size() != args[param.sizedBy].value) {
            return RPC_X_BAD_STUB_DATA;  // the block does not hold exactly its length
        }
    }
    return RPC_S_OK;
}

RPC_STATUS EncodeServerResponse(const ProcedureShape& shape, const RpcCall& call, std::vector<uint8_t>& stub) {
    Writer out;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const ParamShape& param = shape.params[k];
        if (!param.IsOut()) continue;
        if (param.IsOutArray()) {
            if (!PutOutArray(out, shape, call, k)) return RPC_X_BAD_STUB_DATA;
            continue;
        }
        out.Align(4);
        out.U32(param.kind == RPC_FC_COUNT_REF ? CountToSend(shape, call, k) : call.args[k].value);
    }
    if (shape.returnsInt32) {
        out.Align(4);
        out.U32(static_cast<uint32_t>(call.returnValue));
    }
    stub = out.Take();
    return RPC_S_OK;
}

}  // namespace platform::rpc
