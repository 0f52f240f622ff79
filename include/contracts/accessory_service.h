// The wire contract of the accessory service: interface
// bf9dc6fe-9b52-4853-8a12-5fb75155ab63 version 1.0, NDR 2.0, four procedures.
// The same tables drive the client stubs (NdrClientCall2) and the service's
// dispatch (platform::rpc::RpcServer).
#pragma once

#include <cstdlib>

#include "contracts/procedure_table.h"
#include "platform/rpc.h"

namespace contracts {

inline constexpr RPC_SYNTAX_IDENTIFIER kAccessoryServiceId = {
    {0xbf9dc6fe, 0x9b52, 0x4853, {0x8a, 0x12, 0x5f, 0xb7, 0x51, 0x55, 0xab, 0x63}}, {1, 0}};

inline constexpr unsigned short kAccessoryServiceProcedureCount = 4;

// Procedure numbers.
enum AccessoryServiceProc : unsigned short {
    kAccProc0 = 0,      // (text in, text in, ULONG value, ULONG value)
    kAccGetFlag = 1,    // (LONG* value)
    kAccSendTexts = 2,  // (text in, text in, text in, LONG* status)
    kAccGetText = 3,    // (char buffer out [*count], ULONG* count, LONG* status)
};

inline constexpr unsigned char kAccessoryServiceFormat[] = {
    // 0 Proc0
    RPC_FC_PROC, 0, 0, 0, 4,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_UINT32, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_UINT32, RPC_FC_NO_SIZE),
    // 1 GetFlag
    RPC_FC_PROC, 1, 0, 0, 1,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 2 SendTexts
    RPC_FC_PROC, 2, 0, 0, 4,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 3 GetText
    RPC_FC_PROC, 3, 0, 0, 3,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_BYTE_ARRAY, 1),
    RPC_FC_PARAM(RPC_FC_DIR_INOUT, RPC_FC_COUNT_REF, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
};

inline constexpr auto kAccessoryServiceOffsets =
    ProcedureOffsets<kAccessoryServiceProcedureCount>(kAccessoryServiceFormat);

inline constexpr RPC_PROCEDURE_TABLE kAccessoryServiceProcedures = {
    kAccessoryServiceFormat, kAccessoryServiceOffsets.data(), kAccessoryServiceProcedureCount};

// The description of procedure k, for NdrClientCall2. REQUIRES: k < 4.
constexpr PFORMAT_STRING AccessoryServiceProcFormat(unsigned k) {
    return kAccessoryServiceFormat + kAccessoryServiceOffsets[k];
}

// Client side: no endpoint, no dispatch table, no flags.
inline constexpr RPC_CLIENT_INTERFACE kAccessoryServiceClientInterface = {
    sizeof(RPC_CLIENT_INTERFACE), kAccessoryServiceId, kNdr20TransferSyntax, nullptr, 0, nullptr, 0, nullptr, 0};

inline const MIDL_STUB_DESC kAccessoryServiceStubDesc = {
    &kAccessoryServiceClientInterface, std::malloc, std::free, &kAccessoryServiceProcedures};

// The interface handle RpcBindingBind takes.
inline RPC_IF_HANDLE AccessoryServiceIfHandle() {
    return const_cast<RPC_CLIENT_INTERFACE*>(&kAccessoryServiceClientInterface);
}

}  // namespace contracts
