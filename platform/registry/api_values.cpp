// Exported registry functions on values: set, query, enumerate, delete.
#include <cstring>

#include "api_common.h"
#include "handles.h"
#include "names.h"
#include "store_cache.h"

using namespace platform::registry;

namespace {

// Addresses below this cannot hold caller data; the platform answers
// ERROR_NOACCESS for them instead of faulting.
constexpr uintptr_t kLowestDataAddress = 0x10000;

// Resolves hKey and checks that it carries right.
LONG KeyWithRight(HKEY hKey, REGSAM right, KeyRef& key) {
    if (LONG status = ResolveKey(hKey, key)) return status;
    return (key.access & right) == right ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Reports a found value to RegQueryValueExW's out-parameters.
LONG ReportValue(const ValueRow& row, DWORD* type, BYTE* data, DWORD* size) {
    if (type != nullptr) *type = row.type;
    if (size == nullptr) return ERROR_SUCCESS;
    if (data != nullptr) {
        if (row.dataBytes > *size) {
            *size = static_cast<DWORD>(row.dataBytes);
            return ERROR_MORE_DATA;
        }
        CopyData(row.type, row.data, row.dataBytes, data, *size);
    }
    *size = static_cast<DWORD>(row.dataBytes);
    return ERROR_SUCCESS;
}

// Reports an enumerated value: the name first (too small leaves both buffers
// alone), then the data (too small leaves the data buffer alone).
LONG ReportEnumerated(const ValueRow& row, LPWSTR name, DWORD* nameChars, DWORD* type, BYTE* data, DWORD* size) {
    if (type != nullptr) *type = row.type;
    size_t units = row.nameBytes / sizeof(WCHAR);
    if (units >= *nameChars) {
        if (size != nullptr) *size = static_cast<DWORD>(row.dataBytes);
        return ERROR_MORE_DATA;
    }
    if (units != 0) std::memcpy(name, row.name, units * sizeof(WCHAR));
    name[units] = u'\0';
    *nameChars = static_cast<DWORD>(units);
    return ReportValue(row, nullptr, data, size);
}

}  // namespace

extern "C" LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                               const BYTE* lpData, DWORD cbData) {
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = ResolveKey(hKey, key)) return status;
        if (cbData != 0 && reinterpret_cast<uintptr_t>(lpData) < kLowestDataAddress) return ERROR_NOACCESS;
        if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
        std::u16string_view name;
        if (!ReadValueName(lpValueName, name)) return ERROR_INVALID_PARAMETER;
        Store& store = *key.store;
        return store.Transact(true, [&]() -> LONG { return store.WriteValue(key.id, name, dwType, lpData, cbData); });
    });
}

extern "C" LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                                 DWORD* lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = KeyWithRight(hKey, KEY_QUERY_VALUE, key)) return status;
        std::u16string_view name;
        LONG status = ERROR_FILE_NOT_FOUND;
        if (ReadValueName(lpValueName, name)) {
            Store& store = *key.store;
            status = store.Transact(false, [&]() -> LONG {
                return store.ReadValue(key.id, name,
                                       [&](const ValueRow& row) { return ReportValue(row, lpType, lpData, lpcbData); });
            });
        }
        if (status == ERROR_FILE_NOT_FOUND && lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
        return status;
    });
}

extern "C" LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, DWORD* lpcchValueName,
                              DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) {
    if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr ||
        (lpData != nullptr && lpcbData == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = KeyWithRight(hKey, KEY_QUERY_VALUE, key)) return status;
        Store& store = *key.store;
        return store.Transact(false, [&]() -> LONG {
            return store.ValueAt(key.id, dwIndex, [&](const ValueRow& row) {
                return ReportEnumerated(row, lpValueName, lpcchValueName, lpType, lpData, lpcbData);
            });
        });
    });
}

extern "C" LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = KeyWithRight(hKey, KEY_SET_VALUE, key)) return status;
        std::u16string_view name;
        if (!ReadValueName(lpValueName, name)) return ERROR_FILE_NOT_FOUND;
        Store& store = *key.store;
        return store.Transact(true, [&]() -> LONG { return store.DeleteValue(key.id, name); });
    });
}

LONG platform::RegistryQueryValue(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD* lpType, BYTE* lpData,
                                  DWORD* lpcbData) noexcept {
    return Guarded([&]() -> LONG {
        // The current store is borrowed from the calling thread's reference
        // to it (no count changes hands on this path); a handle's own store
        // is held for the call.
        KeyRef parent;
        Store* store = nullptr;
        if (IsRootHandle(hKey)) {
            parent.id = kRootKeyId;
            if (LONG status = CurrentStoreForThread(store)) return status;
        } else {
            if (LONG status = ResolveKey(hKey, parent)) return status;
            store = parent.store.get();
        }
        std::u16string_view path;
        if (LONG status = ReadKeyPath(lpSubKey, path)) return status;
        // What the open would refuse, and RegQueryValueExW's own argument checks.
        if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
        std::u16string_view name;
        const bool validName = ReadValueName(lpValueName, name);
        bool opened = false;
        LONG status = store->Transact(false, [&]() -> LONG {
            int64_t id = 0;
            opened = false;
            if (LONG walk = store->Walk(parent.id, path, id)) return walk;
            opened = true;
            if (!validName) return ERROR_FILE_NOT_FOUND;
            return store->ReadValue(id, name, [&](const ValueRow& row) { return ReportValue(row, lpType, lpData, lpcbData); });
        });
        if (opened && status == ERROR_FILE_NOT_FOUND && lpData == nullptr && lpcbData != nullptr) *lpcbData = 0;
        return status;
    });
}

LONG platform::RegistrySetValue(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD dwType, const BYTE* lpData,
                                DWORD cbData) noexcept {
    return Guarded([&]() -> LONG {
        KeyRef parent;
        if (LONG status = ResolveKey(hKey, parent)) return status;
        std::u16string_view path;
        if (LONG status = ReadKeyPath(lpSubKey, path)) return status;
        Store& store = *parent.store;
        std::u16string_view name;
        const bool validName = ReadValueName(lpValueName, name);
        const bool validData = cbData == 0 || reinterpret_cast<uintptr_t>(lpData) >= kLowestDataAddress;
        // A refused value still leaves the key made, as RegSetValueExW's refusal
        // leaves what RegCreateKeyExW made.
        LONG refused = ERROR_SUCCESS;
        LONG status = store.Transact(true, [&]() -> LONG {
            int64_t id = 0;
            bool created = false;
            refused = ERROR_SUCCESS;
            if (LONG walk = store.WalkCreate(parent.id, path, id, created)) return walk;
            if (!validData) refused = ERROR_NOACCESS;
            else if (!validName) refused = ERROR_INVALID_PARAMETER;
            if (refused != ERROR_SUCCESS) return ERROR_SUCCESS;
            return store.WriteValue(id, name, dwType, lpData, cbData);
        });
        return status != ERROR_SUCCESS ? status : refused;
    });
}
