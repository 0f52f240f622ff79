#include "procedure.h"

#include <vector>

namespace platform::rpc {

namespace {

constexpr size_t kHeaderBytes = 5;
constexpr size_t kParamBytes = 3;

// The kind a parameter's sizing index must name, or 0 when it must have none.
unsigned char RequiredSizer(const ParamShape& param) {
    if (param.kind == RPC_FC_BYTE_ARRAY && param.direction == RPC_FC_DIR_IN) return RPC_FC_UINT32;
    if (param.kind == RPC_FC_BYTE_ARRAY || param.kind == RPC_FC_WCHAR_ARRAY) return RPC_FC_COUNT_REF;
    return 0;
}

bool DirectionFits(const ParamShape& param) {
    switch (param.kind) {
        case RPC_FC_WSTRING:
        case RPC_FC_UINT32: return param.direction == RPC_FC_DIR_IN;
        case RPC_FC_INT32_REF: return param.direction == RPC_FC_DIR_OUT;
        case RPC_FC_COUNT_REF: return param.direction == RPC_FC_DIR_INOUT;
        case RPC_FC_BYTE_ARRAY: return param.direction == RPC_FC_DIR_IN || param.direction == RPC_FC_DIR_OUT;
        case RPC_FC_WCHAR_ARRAY: return param.direction == RPC_FC_DIR_OUT;
        default: return false;
    }
}

bool SizingFits(const ProcedureShape& shape, const ParamShape& param) {
    unsigned char required = RequiredSizer(param);
    if (required == 0) return param.sizedBy == RPC_FC_NO_SIZE;
    return param.sizedBy < shape.count && shape.params[param.sizedBy].kind == required;
}

}  // namespace

std::optional<unsigned char> ProcedureShape::ArraySizedBy(unsigned char index) const {
    for (unsigned char k = 0; k < count; ++k) {
        if (params[k].IsOutArray() && params[k].sizedBy == index) return k;
    }
    return std::nullopt;
}

std::optional<ProcedureShape> ParseProcedure(PFORMAT_STRING format, size_t available) {
    if (format == nullptr || available < kHeaderBytes || format[0] != RPC_FC_PROC) return std::nullopt;
    ProcedureShape shape;
    shape.opnum = static_cast<uint16_t>(format[1] | (format[2] << 8));
    if ((format[3] & ~RPC_FC_RETURNS_INT32) != 0) return std::nullopt;
    shape.returnsInt32 = (format[3] & RPC_FC_RETURNS_INT32) != 0;
    shape.count = format[4];
    if (shape.count > RPC_FC_MAX_PARAMS || available < kHeaderBytes + kParamBytes * shape.count) return std::nullopt;
    for (unsigned char k = 0; k < shape.count; ++k) {
        const unsigned char* at = format + kHeaderBytes + kParamBytes * k;
        shape.params[k] = ParamShape{at[0], at[1], at[2]};
    }
    for (unsigned char k = 0; k < shape.count; ++k) {
        if (!DirectionFits(shape.params[k]) || !SizingFits(shape, shape.params[k])) return std::nullopt;
    }
    return shape;
}

std::optional<std::vector<ProcedureShape>> ParseProcedureTable(const RPC_PROCEDURE_TABLE& table) {
    if (table.Format == nullptr || table.Offsets == nullptr) return std::nullopt;
    std::vector<ProcedureShape> shapes;
    for (unsigned short k = 0; k < table.Count; ++k) {
        // The table's extent is not recorded; a description is at most this long.
        auto shape = ParseProcedure(table.Format + table.Offsets[k], kHeaderBytes + kParamBytes * RPC_FC_MAX_PARAMS);
        if (!shape || shape->opnum != k) return std::nullopt;
        shapes.push_back(*shape);
    }
    return shapes;
}

}  // namespace platform::rpc
