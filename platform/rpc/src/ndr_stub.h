// NDR 2.0 stubs of one procedure, driven by its shape: the client encodes the
// request from the caller's arguments and decodes the response into a staged
// copy that is written to the caller only when every check passed; the server
// decodes the request into RpcArguments and encodes the handler's outputs.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/rpc.h"
#include "platform/rpc_server.h"
#include "procedure.h"

namespace platform::rpc {

// One argument of NdrClientCall2 as the caller passed it: a pointer, or a
// 32-bit value for UINT32 parameters.
struct ClientArg {
    void* pointer = nullptr;
    uint32_t value = 0;
};
using ClientArgs = std::array<ClientArg, RPC_FC_MAX_PARAMS>;

// A decoded response, still outside the caller's memory.
struct StagedOutput {
    uint32_t value = 0;  // INT32_REF bits, or COUNT_REF count
    const uint8_t* elements = nullptr;  // out array: points into the response stub
    uint32_t elementCount = 0;
};
struct StagedResponse {
    std::array<StagedOutput, RPC_FC_MAX_PARAMS> outputs{};
    int32_t returnValue = 0;
};

// Encodes the request stub. Returns RPC_S_OK, or RPC_X_NULL_REF_POINTER when
// a pointer argument is null (nothing is encoded then).
RPC_STATUS EncodeClientRequest(const ProcedureShape& shape, const ClientArgs& args, std::vector<uint8_t>& stub);

// Decodes and checks a response stub: every length within the stub, each out
// array's conformance no greater than the capacity the caller passed in its
// count and equal to the count returned, no bytes left over. Reads the
// caller's counts (capacities) but writes nothing of the caller's. Returns
// RPC_S_OK or RPC_X_BAD_STUB_DATA. staged points into stub afterwards.
RPC_STATUS DecodeClientResponse(const ProcedureShape& shape, const ClientArgs& args, const uint8_t* stub,
                                size_t size, StagedResponse& staged);

// Writes a response that DecodeClientResponse accepted into the caller's outputs.
void CommitClientResponse(const ProcedureShape& shape, const ClientArgs& args, const StagedResponse& staged);

// Decodes and checks a request stub: strings with offset 0, 1 <= actual <=
// max and a terminating NUL; in byte blocks whose conformance equals their
// sizing value; no bytes left over. Returns RPC_S_OK or RPC_X_BAD_STUB_DATA.
RPC_STATUS DecodeServerRequest(const ProcedureShape& shape, const uint8_t* stub, size_t size,
                               std::vector<RpcArgument>& args);

// Encodes a handler's outputs. Returns RPC_S_OK, or RPC_X_BAD_STUB_DATA when
// an out array holds more elements than the capacity the client sent.
RPC_STATUS EncodeServerResponse(const ProcedureShape& shape, const RpcCall& call, std::vector<uint8_t>& stub);

}  // namespace platform::rpc
