// Fault status codes: the nca codes on the wire and the RPC_S_* statuses
// callers see for them.
#pragma once

#include <cstdint>

#include "platform/rpc.h"

namespace platform::rpc {

constexpr uint32_t kNcaOpRangeError = 0x1c010002;
constexpr uint32_t kNcaUnknownInterface = 0x1c010003;
constexpr uint32_t kNcaProtocolError = 0x1c01000b;
constexpr uint32_t kNcaInvalidBound = 0x1c000007;

// The status a client raises for a fault's code: nca codes become their
// RPC_S_* values; any other code (an application's status, or a Win32 code
// such as RPC_X_BAD_STUB_DATA) passes unchanged.
RPC_STATUS StatusFromFault(uint32_t faultCode);

// The code a server puts in a fault for a status: the inverse of the above
// for the statuses that have an nca code, the status itself otherwise.
uint32_t FaultFromStatus(RPC_STATUS status);

}  // namespace platform::rpc
