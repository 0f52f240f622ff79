// Descriptors of transient objects. The only object is the RPC server object
// "InteropRPC\Server": who may serve an RPC interface on this device. Root may,
// and so may the owner of the device root's RPC folder, the account the
// device's services run as.
#include "platform/security.h"

#include <sys/stat.h>

#include <new>
#include <string>
#include <string_view>

#include "platform/deviceroot.h"

namespace {

constexpr std::u16string_view kRpcServerObject = u"InteropRPC\\Server";

std::u16string_view ViewOf(PCWSTR text) {
    return text != nullptr ? std::u16string_view(text) : std::u16string_view();
}

MORVALA_SECURITY_DESCRIPTOR* AsDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    return static_cast<MORVALA_SECURITY_DESCRIPTOR*>(descriptor);
}

void Admit(MORVALA_SECURITY_DESCRIPTOR& descriptor, DWORD uid) {
    for (DWORD k = 0; k < descriptor.AllowedCount; ++k) {
        if (descriptor.AllowedUids[k] == uid) return;
    }
    if (descriptor.AllowedCount < MORVALA_SD_MAX_ALLOWED) descriptor.AllowedUids[descriptor.AllowedCount++] = uid;
}

// Root, and the owner of <device root>/rpc, found when a check needs it.
void FillRpcServerDescriptor(MORVALA_SECURITY_DESCRIPTOR& descriptor) {
    descriptor = MORVALA_SECURITY_DESCRIPTOR{};
    descriptor.Magic = MORVALA_SD_MAGIC;
    descriptor.Revision = MORVALA_SD_REVISION;
    descriptor.OwnerUid = 0;
    descriptor.Flags = MORVALA_SD_ADMIT_RPC_FOLDER_OWNER;
    Admit(descriptor, 0);
}

// True when <device root>/rpc is a folder that uid owns.
bool OwnsRpcFolder(DWORD uid) {
    struct stat info {};
    std::string folder = platform::DeviceRoot() + "/rpc";
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid;
}

}  // namespace

extern "C" DWORD QueryTransientObjectSecurityDescriptor(DWORD objectType, PCWSTR objectName,
                                                        PSECURITY_DESCRIPTOR* descriptor) {
    if (descriptor == nullptr) return ERROR_INVALID_PARAMETER;
    *descriptor = nullptr;
    if (objectName == nullptr) return ERROR_INVALID_PARAMETER;
    if (objectType != TRANSIENT_OBJECT_TYPE_RPC_SERVER || ViewOf(objectName) != kRpcServerObject) {
        return ERROR_FILE_NOT_FOUND;
    }
    auto* made = new (std::nothrow) MORVALA_SECURITY_DESCRIPTOR;
    if (made == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    FillRpcServerDescriptor(*made);
    *descriptor = made;
    return ERROR_SUCCESS;
}

extern "C" DWORD FreeTransientObjectSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (descriptor == nullptr) return ERROR_SUCCESS;
    if (!IsValidMorvalaSecurityDescriptor(descriptor)) return ERROR_INVALID_PARAMETER;
    AsDescriptor(descriptor)->Magic = 0;
    delete AsDescriptor(descriptor);
    return ERROR_SUCCESS;
}

extern "C" BOOL IsValidMorvalaSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    if (descriptor == nullptr) return 0;
    const MORVALA_SECURITY_DESCRIPTOR& d = *AsDescriptor(descriptor);
    return d.Magic == MORVALA_SD_MAGIC && d.Revision == MORVALA_SD_REVISION && d.AllowedCount <= MORVALA_SD_MAX_ALLOWED;
}

extern "C" BOOL SecurityDescriptorAdmitsUid(PSECURITY_DESCRIPTOR descriptor, DWORD uid) {
    if (!IsValidMorvalaSecurityDescriptor(descriptor)) return 0;
    const MORVALA_SECURITY_DESCRIPTOR& d = *AsDescriptor(descriptor);
    for (DWORD k = 0; k < d.AllowedCount; ++k) {
        if (d.AllowedUids[k] == uid) return 1;
    }
    return (d.Flags & MORVALA_SD_ADMIT_RPC_FOLDER_OWNER) != 0 && OwnsRpcFolder(uid) ? 1 : 0;
}
