// A procedure description (FORMAT.md) parsed and checked once: the shape
// that the client call, the server's dispatch and every check walk.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/rpc.h"

namespace platform::rpc {

struct ParamShape {
    unsigned char direction = 0;  // RPC_FC_DIR_*
    unsigned char kind = 0;       // RPC_FC_*
    unsigned char sizedBy = RPC_FC_NO_SIZE;

    bool IsIn() const { return (direction & RPC_FC_DIR_IN) != 0; }
    bool IsOut() const { return (direction & RPC_FC_DIR_OUT) != 0; }
    bool IsOutArray() const { return direction == RPC_FC_DIR_OUT && sizedBy != RPC_FC_NO_SIZE; }
    size_t ElementSize() const { return kind == RPC_FC_WCHAR_ARRAY ? 2 : 1; }
};

struct ProcedureShape {
    uint16_t opnum = 0;
    bool returnsInt32 = false;
    unsigned char count = 0;
    std::array<ParamShape, RPC_FC_MAX_PARAMS> params{};

    // The out array that parameter `index` (a COUNT_REF) sizes, if any.
    std::optional<unsigned char> ArraySizedBy(unsigned char index) const;
};

// Parses the description at format, reading at most `available` bytes.
// Returns the shape, or nothing when the bytes are not a well-formed
// description (unknown kind, bad direction for its kind, a sizing index that
// is out of range or names a parameter of the wrong kind, too many params).
std::optional<ProcedureShape> ParseProcedure(PFORMAT_STRING format, size_t available);

// Checks a whole table: every procedure parses, and procedure k says opnum k.
// Returns the shapes by procedure number, or nothing.
std::optional<std::vector<ProcedureShape>> ParseProcedureTable(const RPC_PROCEDURE_TABLE& table);

}  // namespace platform::rpc
