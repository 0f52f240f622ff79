// The platform's security service: descriptors of transient objects, which
// say whose processes may serve (or own) them. The RPC runtime checks the
// kernel-reported uid of a service against the descriptor that a client
// binding carries in its quality-of-service record.
#pragma once

#include <memory>

#include "platform/types.h"

using PSECURITY_DESCRIPTOR = void*;

// Transient object type of RPC servers; its only object is "InteropRPC\Server".
constexpr DWORD TRANSIENT_OBJECT_TYPE_RPC_SERVER = 9;
constexpr DWORD MORVALA_SD_MAGIC = 0x4453524Du;  // "MRSD"
constexpr DWORD MORVALA_SD_REVISION = 1;
constexpr DWORD MORVALA_SD_MAX_ALLOWED = 8;

// Our descriptor: the owner and the uids allowed to serve the object.
struct MORVALA_SECURITY_DESCRIPTOR {
    DWORD Magic;     // MORVALA_SD_MAGIC
    DWORD Revision;  // MORVALA_SD_REVISION
    DWORD OwnerUid;
    DWORD AllowedCount;  // <= MORVALA_SD_MAX_ALLOWED
    DWORD AllowedUids[MORVALA_SD_MAX_ALLOWED];
};

extern "C" {

// Builds the descriptor of a transient object. Type 9 named
// "InteropRPC\Server" admits root (uid 0) and the owner of the device root's
// RPC folder (<device root>/rpc; when that folder does not exist, root only);
// its owner is root.
// Returns 0 and stores a descriptor the caller releases with
// FreeTransientObjectSecurityDescriptor; ERROR_INVALID_PARAMETER for a null
// name or out-pointer, ERROR_FILE_NOT_FOUND for an unknown type or name,
// ERROR_NOT_ENOUGH_MEMORY. On failure *descriptor is set to null.
DWORD QueryTransientObjectSecurityDescriptor(DWORD objectType, PCWSTR objectName, PSECURITY_DESCRIPTOR* descriptor);

// Releases a descriptor from QueryTransientObjectSecurityDescriptor. Null is
// accepted. Returns 0, or ERROR_INVALID_PARAMETER for a pointer that is not
// one of our descriptors (it is then left alone).
DWORD FreeTransientObjectSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);

// True when the pointer holds a well-formed descriptor of ours.
BOOL IsValidMorvalaSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);

// True when the descriptor is valid and lists uid among the allowed.
BOOL SecurityDescriptorAdmitsUid(PSECURITY_DESCRIPTOR descriptor, DWORD uid);

}  // extern "C"

namespace platform {

struct SecurityDescriptorFree {
    void operator()(void* descriptor) const noexcept { FreeTransientObjectSecurityDescriptor(descriptor); }
};
// An owned descriptor, released with FreeTransientObjectSecurityDescriptor.
using UniqueSecurityDescriptor = std::unique_ptr<void, SecurityDescriptorFree>;

}  // namespace platform
