// The wire contract of the connection service: interface
// 9a304fc8-42cd-40ce-b6f4-bfd48f1f93aa version 1.0, NDR 2.0, ten procedures.
// The same tables drive the client stubs (NdrClientCall2) and the service's
// dispatch (platform::rpc::RpcServer).
#pragma once

#include <cstdlib>

#include "contracts/procedure_table.h"
#include "platform/rpc.h"

namespace contracts {

inline constexpr RPC_SYNTAX_IDENTIFIER kConnectionServiceId = {
    {0x9a304fc8, 0x42cd, 0x40ce, {0xb6, 0xf4, 0xbf, 0xd4, 0x8f, 0x1f, 0x93, 0xaa}}, {1, 0}};

inline constexpr unsigned short kConnectionServiceProcedureCount = 10;

// Procedure numbers.
enum ConnectionServiceProc : unsigned short {
    kConnSendText = 0,          // (text in, LONG* status)
    kConnProc1 = 1,             // (text in, block in [length], ULONG length, LONG* status) -> LONG
    kConnProc2 = 2,             // (WCHAR buffer out [*count], ULONG* count, LONG* status)
    kConnGetText = 3,           // (char buffer out [*count], ULONG* count, LONG* status)
    kConnProc4 = 4,             // (LONG* value)
    kConnProc5 = 5,             // (text in, WCHAR buffer out [*count], ULONG* count, LONG* status)
    kConnProc6 = 6,             // (LONG* value)
    kConnProc7 = 7,             // (text in, LONG* status)
    kConnSendNonEmptyText = 8,  // (text in, LONG* status)
    kConnCheckText = 9,         // (text in, LONG* status) -> LONG
};

inline constexpr unsigned char kConnectionServiceFormat[] = {
    // 0 SendText
    RPC_FC_PROC, 0, 0, 0, 2,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 1 Proc1
    RPC_FC_PROC, 1, 0, RPC_FC_RETURNS_INT32, 4,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_BYTE_ARRAY, 2),
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_UINT32, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 2 Proc2
    RPC_FC_PROC, 2, 0, 0, 3,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_WCHAR_ARRAY, 1),
    RPC_FC_PARAM(RPC_FC_DIR_INOUT, RPC_FC_COUNT_REF, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 3 GetText
    RPC_FC_PROC, 3, 0, 0, 3,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_BYTE_ARRAY, 1),
    RPC_FC_PARAM(RPC_FC_DIR_INOUT, RPC_FC_COUNT_REF, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 4 Proc4
    RPC_FC_PROC, 4, 0, 0, 1,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 5 Proc5
    RPC_FC_PROC, 5, 0, 0, 4,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_WCHAR_ARRAY, 2),
    RPC_FC_PARAM(RPC_FC_DIR_INOUT, RPC_FC_COUNT_REF, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 6 Proc6
    RPC_FC_PROC, 6, 0, 0, 1,
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 7 Proc7
    RPC_FC_PROC, 7, 0, 0, 2,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 8 SendNonEmptyText
    RPC_FC_PROC, 8, 0, 0, 2,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
    // 9 CheckText
    RPC_FC_PROC, 9, 0, RPC_FC_RETURNS_INT32, 2,
    RPC_FC_PARAM(RPC_FC_DIR_IN, RPC_FC_WSTRING, RPC_FC_NO_SIZE),
    RPC_FC_PARAM(RPC_FC_DIR_OUT, RPC_FC_INT32_REF, RPC_FC_NO_SIZE),
};

inline constexpr auto kConnectionServiceOffsets =
    ProcedureOffsets<kConnectionServiceProcedureCount>(kConnectionServiceFormat);

inline constexpr RPC_PROCEDURE_TABLE kConnectionServiceProcedures = {
    kConnectionServiceFormat, kConnectionServiceOffsets.data(), kConnectionServiceProcedureCount};

// The description of procedure k, for NdrClientCall2. REQUIRES: k < 10.
constexpr PFORMAT_STRING ConnectionServiceProcFormat(unsigned k) {
    return kConnectionServiceFormat + kConnectionServiceOffsets[k];
}

// Client side: no endpoint, no dispatch table, no flags.
inline constexpr RPC_CLIENT_INTERFACE kConnectionServiceClientInterface = {
    sizeof(RPC_CLIENT_INTERFACE), kConnectionServiceId, kNdr20TransferSyntax, nullptr, 0, nullptr, 0, nullptr, 0};

inline const MIDL_STUB_DESC kConnectionServiceStubDesc = {
    &kConnectionServiceClientInterface, std::malloc, std::free, &kConnectionServiceProcedures};

// The interface handle RpcBindingBind takes.
inline RPC_IF_HANDLE ConnectionServiceIfHandle() {
    return const_cast<RPC_CLIENT_INTERFACE*>(&kConnectionServiceClientInterface);
}

}  // namespace contracts
