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
constexpr DWORD MORVALA_SD_REVISION = 2;
constexpr DWORD MORVALA_SD_MAX_ALLOWED = 8;
// Flag: the owner of the device root's RPC folder is admitted too, as the
// folder is owned at the time of the check.
constexpr DWORD MORVALA_SD_ADMIT_RPC_FOLDER_OWNER = 0x1;

// Our descriptor: the owner, the uids allowed to serve the object, and
// which further uids are found at the time of a check.
struct MORVALA_SECURITY_DESCRIPTOR {
    DWORD Magic;     // MORVALA_SD_MAGIC
    DWORD Revision;  // MORVALA_SD_REVISION
    DWORD OwnerUid;
    DWORD Flags;         // MORVALA_SD_ADMIT_*
    DWORD AllowedCount;  // <= MORVALA_SD_MAX_ALLOWED
    DWORD AllowedUids[MORVALA_SD_MAX_ALLOWED];
};

extern "C" {

// Builds the descriptor of a transient object. Type 9 named
// "InteropRPC\Server" admits root (uid 0) and the owner of the device root's
// RPC folder (<device root>/rpc; nobody else while that folder does not
// exist); its owner is root. The folder's owner is looked up when a uid
// other than root's is checked, so a check of a service run by root costs
// no file-system lookup and a changed owner is seen at once.
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

// True when the descriptor is valid and admits uid: it lists uid among the
// allowed, or says to admit the RPC folder's owner and uid owns that folder
// now.
BOOL SecurityDescriptorAdmitsUid(PSECURITY_DESCRIPTOR descriptor, DWORD uid);

}  // extern "C"

namespace platform {

struct SecurityDescriptorFree {
    void operator()(void* descriptor) const noexcept { FreeTransientObjectSecurityDescriptor(descriptor); }
};
// An owned descriptor, released with FreeTransientObjectSecurityDescriptor.
using UniqueSecurityDescriptor = std::unique_ptr<void, SecurityDescriptorFree>;

}  // namespace platform
