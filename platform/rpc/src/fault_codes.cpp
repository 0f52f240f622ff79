#include "fault_codes.h"

namespace platform::rpc {

namespace {

struct FaultMapping {
    uint32_t nca;
    RPC_STATUS status;
};

constexpr FaultMapping kMappings[] = {
    {0x1c010001, RPC_S_COMM_FAILURE},
    {kNcaOpRangeError, RPC_S_PROCNUM_OUT_OF_RANGE},
    {kNcaUnknownInterface, RPC_S_UNKNOWN_IF},
    {0x1c010006, RPC_S_CALL_FAILED},  // wrong boot time
    {0x1c010009, RPC_S_CALL_FAILED},  // you crashed
    {kNcaProtocolError, RPC_S_PROTOCOL_ERROR},
    {0x1c010013, RPC_S_SERVER_OUT_OF_MEMORY},  // out args too big
    {0x1c010014, RPC_S_SERVER_TOO_BUSY},
    {0x1c010017, RPC_S_UNSUPPORTED_TYPE},
    {0x1c000001, RPC_S_ZERO_DIVIDE},
    {0x1c000002, RPC_S_ADDRESS_ERROR},
    {0x1c000003, RPC_S_FP_DIV_ZERO},
    {0x1c000004, RPC_S_FP_UNDERFLOW},
    {0x1c000005, RPC_S_FP_OVERFLOW},
    {0x1c000006, RPC_S_INVALID_TAG},
    {kNcaInvalidBound, RPC_S_INVALID_BOUND},
    {0x1c00000d, RPC_S_CALL_CANCELLED},
    {0x1c000012, RPC_S_CALL_FAILED},  // unspecified
    {0x1c000018, RPC_S_SERVER_OUT_OF_MEMORY},
    {0x1c00001a, RPC_X_SS_CONTEXT_MISMATCH},
};

}  // namespace

RPC_STATUS StatusFromFault(uint32_t faultCode) {
    for (const auto& mapping : kMappings) {
        if (mapping.nca == faultCode) return mapping.status;
    }
    return static_cast<RPC_STATUS>(faultCode);
}

uint32_t FaultFromStatus(RPC_STATUS status) {
    switch (status) {
        case RPC_S_PROCNUM_OUT_OF_RANGE: return kNcaOpRangeError;
        case RPC_S_UNKNOWN_IF: return kNcaUnknownInterface;
        case RPC_S_PROTOCOL_ERROR: return kNcaProtocolError;
        case RPC_S_INVALID_BOUND: return kNcaInvalidBound;
        default: return static_cast<uint32_t>(status);
    }
}

}  // namespace platform::rpc
