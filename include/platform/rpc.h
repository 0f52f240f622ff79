// The platform's RPC runtime, client side: bindings, their security records,
// and the client call that marshals one procedure in NDR 2.0 and carries it
// over DCE/RPC connection-oriented PDUs (local RPC on a Unix stream socket, or
// TCP on 127.0.0.1 for tests with independent peers).
//
// Record layouts keep the platform's field order and names; "unsigned long"
// of the platform is ULONG (32 bits) here, strings are UTF-16 (char16_t).
// Procedures are described as data in the format of platform/rpc/FORMAT.md;
// a PFORMAT_STRING points at one procedure's description.
#pragma once

#include <cstddef>

#include "platform/handle.h"
#include "platform/types.h"

using RPC_STATUS = LONG;
using UUID = GUID;
using RPC_WSTR = WCHAR*;
using RPC_BINDING_HANDLE = void*;
using RPC_IF_HANDLE = void*;
using PFORMAT_STRING = const unsigned char*;

// --- Status codes (Win32 numbering) ---------------------------------------
constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_ACCESS_DENIED = 5;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;
constexpr RPC_STATUS RPC_S_INVALID_ARG = 87;
constexpr RPC_STATUS RPC_S_SERVER_OUT_OF_MEMORY = 1130;
constexpr RPC_STATUS RPC_S_INVALID_STRING_BINDING = 1700;
constexpr RPC_STATUS RPC_S_WRONG_KIND_OF_BINDING = 1701;
constexpr RPC_STATUS RPC_S_INVALID_BINDING = 1702;
constexpr RPC_STATUS RPC_S_PROTSEQ_NOT_SUPPORTED = 1703;
constexpr RPC_STATUS RPC_S_INVALID_RPC_PROTSEQ = 1704;
constexpr RPC_STATUS RPC_S_INVALID_ENDPOINT_FORMAT = 1706;
constexpr RPC_STATUS RPC_S_INVALID_NET_ADDR = 1707;
constexpr RPC_STATUS RPC_S_NO_ENDPOINT_FOUND = 1708;
constexpr RPC_STATUS RPC_S_INVALID_TIMEOUT = 1709;
constexpr RPC_STATUS RPC_S_ALREADY_LISTENING = 1713;
constexpr RPC_STATUS RPC_S_UNKNOWN_IF = 1717;
constexpr RPC_STATUS RPC_S_OUT_OF_RESOURCES = 1721;
constexpr RPC_STATUS RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr RPC_STATUS RPC_S_SERVER_TOO_BUSY = 1723;
constexpr RPC_STATUS RPC_S_CALL_FAILED = 1726;
constexpr RPC_STATUS RPC_S_CALL_FAILED_DNE = 1727;
constexpr RPC_STATUS RPC_S_PROTOCOL_ERROR = 1728;
constexpr RPC_STATUS RPC_S_UNSUPPORTED_TRANS_SYN = 1730;
constexpr RPC_STATUS RPC_S_UNSUPPORTED_TYPE = 1732;
constexpr RPC_STATUS RPC_S_INVALID_TAG = 1733;
constexpr RPC_STATUS RPC_S_INVALID_BOUND = 1734;
constexpr RPC_STATUS RPC_S_DUPLICATE_ENDPOINT = 1740;
constexpr RPC_STATUS RPC_S_PROCNUM_OUT_OF_RANGE = 1745;
constexpr RPC_STATUS RPC_S_INTERNAL_ERROR = 1766;
constexpr RPC_STATUS RPC_S_ZERO_DIVIDE = 1767;
constexpr RPC_STATUS RPC_S_ADDRESS_ERROR = 1768;
constexpr RPC_STATUS RPC_S_FP_DIV_ZERO = 1769;
constexpr RPC_STATUS RPC_S_FP_UNDERFLOW = 1770;
constexpr RPC_STATUS RPC_S_FP_OVERFLOW = 1771;
constexpr RPC_STATUS RPC_X_NULL_REF_POINTER = 1780;
constexpr RPC_STATUS RPC_X_BAD_STUB_DATA = 1783;
constexpr RPC_STATUS RPC_S_CALL_CANCELLED = 1818;
constexpr RPC_STATUS RPC_S_COMM_FAILURE = 1820;
constexpr RPC_STATUS RPC_S_UNKNOWN_AUTHN_LEVEL = 1821;
constexpr RPC_STATUS RPC_S_SEC_PKG_ERROR = 1825;
constexpr RPC_STATUS RPC_X_SS_CONTEXT_MISMATCH = 6;

// --- Binding records ------------------------------------------------------
constexpr ULONG RPC_PROTSEQ_TCP = 1;
constexpr ULONG RPC_PROTSEQ_NMP = 2;
constexpr ULONG RPC_PROTSEQ_LRPC = 3;
constexpr ULONG RPC_PROTSEQ_HTTP = 4;

constexpr ULONG RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr ULONG RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr ULONG RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr ULONG RPC_C_AUTHN_LEVEL_CALL = 3;
constexpr ULONG RPC_C_AUTHN_LEVEL_PKT = 4;
constexpr ULONG RPC_C_AUTHN_LEVEL_PKT_INTEGRITY = 5;
constexpr ULONG RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;

constexpr ULONG RPC_C_AUTHN_NONE = 0;
constexpr ULONG RPC_C_AUTHN_WINNT = 10;
constexpr ULONG RPC_C_AUTHN_DEFAULT = 0xFFFFFFFFu;

constexpr ULONG RPC_C_IMP_LEVEL_DEFAULT = 0;
constexpr ULONG RPC_C_IMP_LEVEL_ANONYMOUS = 1;
constexpr ULONG RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr ULONG RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr ULONG RPC_C_IMP_LEVEL_DELEGATE = 4;

constexpr ULONG RPC_C_QOS_CAPABILITIES_DEFAULT = 0;
constexpr ULONG RPC_C_QOS_IDENTITY_STATIC = 0;
constexpr ULONG RPC_C_QOS_IDENTITY_DYNAMIC = 1;

// Communication timeouts of RpcMgmtSetComTimeout: 0 (minimum) to 10 (infinite).
constexpr unsigned int RPC_C_BINDING_MIN_TIMEOUT = 0;
constexpr unsigned int RPC_C_BINDING_DEFAULT_TIMEOUT = 5;
constexpr unsigned int RPC_C_BINDING_MAX_TIMEOUT = 9;
constexpr unsigned int RPC_C_BINDING_INFINITE_TIMEOUT = 10;

struct RPC_BINDING_HANDLE_TEMPLATE_V1_W {
    ULONG Version;           // 1
    ULONG Flags;             // 0
    ULONG ProtocolSequence;  // RPC_PROTSEQ_LRPC or RPC_PROTSEQ_TCP
    WCHAR* NetworkAddress;   // null: this machine (TCP: 127.0.0.1)
    WCHAR* StringEndpoint;   // null: resolved at bind (local RPC only)
    union {
        WCHAR* Reserved;
    } u1;
    UUID ObjectUuid;         // must be nil: object UUIDs are not supported
};

// The common head of every quality-of-service record; Version tells which.
struct RPC_SECURITY_QOS {
    ULONG Version;
    ULONG Capabilities;
    ULONG IdentityTracking;
    ULONG ImpersonationType;
};

struct RPC_SECURITY_QOS_V5_W {
    ULONG Version;  // 5
    ULONG Capabilities;
    ULONG IdentityTracking;
    ULONG ImpersonationType;
    ULONG AdditionalSecurityInfoType;  // 0: none
    union {
        void* HttpCredentials;
    } u;
    void* Sid;
    unsigned int EffectiveOnly;
    void* ServerSecurityDescriptor;  // a descriptor of platform/security.h, or null
};

struct RPC_BINDING_HANDLE_SECURITY_V1_W {
    ULONG Version;  // 1
    WCHAR* ServerPrincName;
    ULONG AuthnLevel;
    ULONG AuthnSvc;
    void* AuthIdentity;            // must be null: the caller's own identity
    RPC_SECURITY_QOS* SecurityQos;  // points at an RPC_SECURITY_QOS_V5_W (or an older version), may be null
};

struct RPC_BINDING_HANDLE_OPTIONS_V1 {
    ULONG Version;      // 1
    ULONG Flags;        // 0
    ULONG ComTimeout;   // as RpcMgmtSetComTimeout
    ULONG CallTimeout;  // milliseconds to wait for each reply; 0 = from ComTimeout
};

// --- Interface descriptions -----------------------------------------------
struct RPC_VERSION {
    unsigned short MajorVersion;
    unsigned short MinorVersion;
};

struct RPC_SYNTAX_IDENTIFIER {
    GUID SyntaxGUID;
    RPC_VERSION SyntaxVersion;
};

// NDR 2.0, the only transfer syntax the runtime speaks.
inline constexpr RPC_SYNTAX_IDENTIFIER kNdr20TransferSyntax = {
    {0x8a885d04, 0x1ceb, 0x11c9, {0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60}}, {2, 0}};

struct RPC_CLIENT_INTERFACE {
    unsigned int Length;  // sizeof(RPC_CLIENT_INTERFACE)
    RPC_SYNTAX_IDENTIFIER InterfaceId;
    RPC_SYNTAX_IDENTIFIER TransferSyntax;  // must be kNdr20TransferSyntax
    void* DispatchTable;                   // unused by clients: null
    unsigned int RpcProtseqEndpointCount;  // 0: no well-known endpoint
    void* RpcProtseqEndpoint;              // null
    size_t Reserved;
    const void* InterpreterInfo;  // may point at the interface's MIDL_STUB_DESC
    unsigned int Flags;           // 0
};
using PRPC_CLIENT_INTERFACE = RPC_CLIENT_INTERFACE*;

// The procedures of one interface, each described once in the format of
// FORMAT.md: Format holds the descriptions back to back, Offsets[k] is where
// the description of procedure k starts. Shared by clients and servers.
struct RPC_PROCEDURE_TABLE {
    const unsigned char* Format;
    const unsigned short* Offsets;
    unsigned short Count;
};

// The client stub description of one interface (slimmed: what the
// interpreter needs and nothing else).
struct MIDL_STUB_DESC {
    const void* RpcInterfaceInformation;  // the interface's RPC_CLIENT_INTERFACE
    void* (*pfnAllocate)(size_t);         // malloc
    void (*pfnFree)(void*);               // free
    const RPC_PROCEDURE_TABLE* ProcTable;
};
using PMIDL_STUB_DESC = const MIDL_STUB_DESC*;

// What NdrClientCall2 yields: Simple holds the procedure's 32-bit return value
// (sign-extended), or 0 for a procedure without one.
union CLIENT_CALL_RETURN {
    void* Pointer;
    intptr_t Simple;
};

struct RPC_ASYNC_STATE;  // asynchronous calls are not supported
using PRPC_ASYNC_STATE = RPC_ASYNC_STATE*;

// --- Procedure format (FORMAT.md) -----------------------------------------
// A procedure: RPC_FC_PROC, opnum (u16 little-endian), flags, parameter
// count n, then n parameters of three bytes: direction, kind, sizing
// parameter index (RPC_FC_NO_SIZE when none). Parameters are numbered from 0
// after the binding handle, in call order.
constexpr unsigned char RPC_FC_PROC = 0x50;
constexpr unsigned char RPC_FC_RETURNS_INT32 = 0x01;  // flag: an int32 return value follows the outputs
constexpr unsigned char RPC_FC_MAX_PARAMS = 8;

constexpr unsigned char RPC_FC_DIR_IN = 1;
constexpr unsigned char RPC_FC_DIR_OUT = 2;
constexpr unsigned char RPC_FC_DIR_INOUT = 3;

constexpr unsigned char RPC_FC_WSTRING = 1;      // in: const WCHAR*, NUL-terminated, never null
constexpr unsigned char RPC_FC_UINT32 = 2;       // in: a 32-bit integer by value
constexpr unsigned char RPC_FC_INT32_REF = 3;    // out: LONG* the service fills
constexpr unsigned char RPC_FC_COUNT_REF = 4;    // in-out: ULONG* capacity in, element count out
constexpr unsigned char RPC_FC_BYTE_ARRAY = 5;   // in: const BYTE* sized by an in UINT32; out: sized by a COUNT_REF
constexpr unsigned char RPC_FC_WCHAR_ARRAY = 6;  // out: WCHAR* sized by a COUNT_REF
constexpr unsigned char RPC_FC_NO_SIZE = 0xFF;

// Builds one parameter's three bytes, for readable tables.
#define RPC_FC_PARAM(direction, kind, sizedBy) (direction), (kind), (sizedBy)

extern "C" {

// Creates an unbound binding from the template, security and options records
// (security and options may be null). Local RPC (RPC_PROTSEQ_LRPC) with no
// endpoint resolves at bind time to <device root>/rpc/<interface id>_<major>.<minor>;
// an endpoint is a socket name in that folder or an absolute socket path.
// TCP (RPC_PROTSEQ_TCP) needs an endpoint (the port) and accepts a numeric
// IPv4 address (null = 127.0.0.1); it refuses with RPC_S_PROTSEQ_NOT_SUPPORTED a
// security record that asks for integrity or privacy or a server identity
// check, because that transport can give neither.
// Copies what it needs from the records: the caller keeps owning them and
// may release the security descriptor at once.
// Returns RPC_S_OK and stores a new handle the caller frees with
// RpcBindingFree; on failure *binding is null and the status says why.
RPC_STATUS RpcBindingCreateW(RPC_BINDING_HANDLE_TEMPLATE_V1_W* templ, RPC_BINDING_HANDLE_SECURITY_V1_W* security,
                             RPC_BINDING_HANDLE_OPTIONS_V1* options, RPC_BINDING_HANDLE* binding);

// Connects and binds synchronously (async must be null) to the interface
// (an RPC_CLIENT_INTERFACE*). A missing or stale endpoint fails at once with
// RPC_S_SERVER_UNAVAILABLE; a server whose kernel-reported uid the binding's
// server descriptor does not admit gives RPC_S_ACCESS_DENIED before anything
// is sent; a rejection gives RPC_S_UNKNOWN_IF or RPC_S_UNSUPPORTED_TRANS_SYN
// (bind_nak: RPC_S_CALL_FAILED_DNE). On failure the binding stays unbound and
// holds no socket. A second bind on a bound handle gives RPC_S_ALREADY_LISTENING.
RPC_STATUS RpcBindingBind(PRPC_ASYNC_STATE async, RPC_BINDING_HANDLE binding, RPC_IF_HANDLE ifSpec);

// Sets how long each call waits for the service's reply: 0 (minimum) waits
// 2 s for each awaited PDU, level k waits 2 s * (k + 1), 10 (infinite) is
// capped at 60 s so that a hung service never hangs a caller for ever.
// Returns RPC_S_OK, RPC_S_INVALID_BINDING or RPC_S_INVALID_TIMEOUT (> 10).
RPC_STATUS RpcMgmtSetComTimeout(RPC_BINDING_HANDLE binding, unsigned int timeout);

// Closes the binding's connection, frees it and nulls *binding. Returns
// RPC_S_OK, or RPC_S_INVALID_BINDING for a null or foreign handle.
RPC_STATUS RpcBindingFree(RPC_BINDING_HANDLE* binding);

// Calls one procedure: the stub description of its interface, the procedure's
// description (one of stub->ProcTable's), then the binding handle and the
// procedure's arguments in order: pointers for strings, buffers, outputs and
// counts; unsigned int (or int) for 32-bit values by value.
// Returns the procedure's return value in Simple (0 when it has none).
// Throws platform::RpcException on any failure: RPC_S_INVALID_BINDING (null,
// unbound or broken binding), RPC_X_NULL_REF_POINTER (a null pointer argument),
// RPC_S_CALL_FAILED_DNE (request not sent), RPC_S_CALL_FAILED (peer gone or
// timed out), RPC_S_PROTOCOL_ERROR (malformed PDU), RPC_X_BAD_STUB_DATA (reply
// that breaks the procedure's contract), or the status of a fault (nca codes
// mapped to their RPC_S_* values, others as sent). Outputs are written only
// when the whole reply decoded and passed every check; after an exception
// every output and buffer holds what it held before the call.
CLIENT_CALL_RETURN NdrClientCall2(PMIDL_STUB_DESC stub, PFORMAT_STRING format, ...);

}  // extern "C"

namespace platform {

struct RpcBindingTraits {
    using Type = RPC_BINDING_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type binding) noexcept { RpcBindingFree(&binding); }
};
// An owned binding handle, freed with RpcBindingFree.
using UniqueRpcBinding = UniqueHandle<RpcBindingTraits>;

}  // namespace platform
