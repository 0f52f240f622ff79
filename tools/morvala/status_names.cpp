#include "status_names.h"

#include <cstdio>

#include "platform/activation.h"

namespace morvala::cli {
namespace {

struct Win32Name {
    LONG code;
    const char* name;
};

const Win32Name kWin32Names[] = {
    {ERROR_SUCCESS, "ERROR_SUCCESS"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY"},
    {ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER"},
    {ERROR_BAD_PATHNAME, "ERROR_BAD_PATHNAME"},
    {ERROR_MORE_DATA, "ERROR_MORE_DATA"},
    {ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS"},
    {ERROR_NOACCESS, "ERROR_NOACCESS"},
    {ERROR_BADDB, "ERROR_BADDB"},
    {ERROR_BADKEY, "ERROR_BADKEY"},
    {ERROR_CANTOPEN, "ERROR_CANTOPEN"},
    {ERROR_CANTREAD, "ERROR_CANTREAD"},
    {ERROR_CANTWRITE, "ERROR_CANTWRITE"},
    {ERROR_REGISTRY_IO_FAILED, "ERROR_REGISTRY_IO_FAILED"},
    {ERROR_KEY_DELETED, "ERROR_KEY_DELETED"},
    {ERROR_BUSY, "ERROR_BUSY"},
    {ERROR_DISK_FULL, "ERROR_DISK_FULL"},
    {ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND"},
    {ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND"},
    {ERROR_DLL_INIT_FAILED, "ERROR_DLL_INIT_FAILED"},
    {ERROR_PROCESS_ABORTED, "ERROR_PROCESS_ABORTED"},
};

struct StatusNameEntry {
    HRESULT status;
    const char* name;
};

const StatusNameEntry kStatusNames[] = {
    {S_OK, "S_OK"},
    {S_FALSE, "S_FALSE"},
    {E_BOUNDS, "E_BOUNDS"},
    {E_CHANGED_STATE, "E_CHANGED_STATE"},
    {RO_E_CLOSED, "RO_E_CLOSED"},
    {E_ILLEGAL_METHOD_CALL, "E_ILLEGAL_METHOD_CALL"},
    {E_STRING_NOT_NULL_TERMINATED, "E_STRING_NOT_NULL_TERMINATED"},
    {E_NOTIMPL, "E_NOTIMPL"},
    {E_NOINTERFACE, "E_NOINTERFACE"},
    {E_POINTER, "E_POINTER"},
    {E_ABORT, "E_ABORT"},
    {E_FAIL, "E_FAIL"},
    {E_UNEXPECTED, "E_UNEXPECTED"},
    {RPC_E_DISCONNECTED, "RPC_E_DISCONNECTED"},
    {RPC_E_WRONG_THREAD, "RPC_E_WRONG_THREAD"},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
    {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
    {E_ACCESSDENIED, "E_ACCESSDENIED"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
    {E_INVALIDARG, "E_INVALIDARG"},
};

}  // namespace

const char* StatusName(HRESULT status) {
    for (const StatusNameEntry& entry : kStatusNames) {
        if (entry.status == status) return entry.name;
    }
    for (const Win32Name& entry : kWin32Names) {
        if (entry.code != 0 && HRESULT_FROM_WIN32(entry.code) == status) {
            static thread_local std::string name;
            name = std::string("HRESULT_FROM_WIN32(") + entry.name + ")";
            return name.c_str();
        }
    }
    return "";
}

std::string DescribeStatus(HRESULT status) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(status));
    std::string name = StatusName(status);
    return name.empty() ? std::string(hex) : std::string(hex) + " " + name;
}

const char* Win32ErrorName(LONG code) {
    for (const Win32Name& entry : kWin32Names) {
        if (entry.code == code) return entry.name;
    }
    return "";
}

std::string DescribeWin32Error(LONG code) {
    std::string name = Win32ErrorName(code);
    if (name.empty()) return "error " + std::to_string(code);
    return name + " (" + std::to_string(code) + ")";
}

}  // namespace morvala::cli
