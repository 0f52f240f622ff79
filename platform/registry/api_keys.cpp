// Exported registry functions on keys: open, create, close, describe,
// enumerate subkeys, delete trees, flush.
#include <cstring>

#include "api_common.h"
#include "handles.h"
#include "names.h"

using namespace platform::registry;

namespace {

// Opens a handle to key id of ref's store with access, unless the store
// cannot grant it. ERROR_ACCESS_DENIED for write rights on a read-only store.
LONG GrantHandle(const KeyRef& parent, int64_t id, REGSAM access, HKEY& out) {
    if ((access & kWriteRights) != 0 && parent.store->ReadOnly()) return ERROR_ACCESS_DENIED;
    return OpenHandle(KeyRef{parent.store, id, access}, out);
}

// Finds or makes the key at path below parent. On a store this process
// cannot write, an existing key is found and a missing one is refused.
LONG FindOrCreate(const KeyRef& parent, std::u16string_view path, int64_t& id, bool& created) {
    Store& store = *parent.store;
    LONG status = store.Transact(true, [&]() -> LONG { return store.WalkCreate(parent.id, path, id, created); });
    if (status != ERROR_ACCESS_DENIED || !store.ReadOnly()) return status;
    created = false;
    status = store.Transact(false, [&]() -> LONG { return store.Walk(parent.id, path, id); });
    return status == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : status;
}

}  // namespace

extern "C" LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                              PHKEY phkResult) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return Guarded([&]() -> LONG {
        KeyRef parent;
        if (LONG status = ResolveKey(hKey, parent)) return status;
        std::u16string_view path;
        if (LONG status = ReadKeyPath(lpSubKey, path)) return status;
        if (IsRootHandle(hKey) && IsEmptyPath(path)) {
            *phkResult = HKEY_LOCAL_MACHINE;
            return ERROR_SUCCESS;
        }
        Store& store = *parent.store;
        int64_t id = 0;
        LONG status = store.Transact(false, [&]() -> LONG { return store.Walk(parent.id, path, id); });
        if (status != ERROR_SUCCESS) return status;
        return GrantHandle(parent, id, NormalizeAccess(samDesired, store.ReadOnly()), *phkResult);
    });
}

extern "C" LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR /*lpClass*/, DWORD dwOptions,
                                REGSAM samDesired, const SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/,
                                PHKEY phkResult, DWORD* lpdwDisposition) {
    if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (Reserved != 0 || dwOptions != REG_OPTION_NON_VOLATILE) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        KeyRef parent;
        if (LONG status = ResolveKey(hKey, parent)) return status;
        std::u16string_view path;
        if (LONG status = ReadKeyPath(lpSubKey, path)) return status;
        if (IsRootHandle(hKey) && IsEmptyPath(path)) {
            *phkResult = HKEY_LOCAL_MACHINE;
            if (lpdwDisposition != nullptr) *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            return ERROR_SUCCESS;
        }
        int64_t id = 0;
        bool created = false;
        if (LONG status = FindOrCreate(parent, path, id, created)) return status;
        REGSAM access = NormalizeAccess(samDesired, parent.store->ReadOnly());
        if (LONG status = GrantHandle(parent, id, access, *phkResult)) return status;
        if (lpdwDisposition != nullptr) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

extern "C" LONG RegCloseKey(HKEY hKey) {
    if (IsRootHandle(hKey)) return ERROR_SUCCESS;
    return Guarded([&]() -> LONG { return CloseHandle(hKey); });
}

extern "C" LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                                 DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                                 DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                                 DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
    if (lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = ResolveKey(hKey, key)) return status;
        KeyStats stats{};
        Store& store = *key.store;
        if (LONG status = store.Transact(false, [&]() -> LONG { return store.Stats(key.id, stats); })) return status;
        // Keys have no class: an empty text, when there is room for its NUL.
        if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = u'\0';
        if (lpcchClass != nullptr) *lpcchClass = 0;
        if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(stats.subkeys);
        if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = static_cast<DWORD>(stats.maxSubkeyChars);
        if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
        if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(stats.values);
        if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = static_cast<DWORD>(stats.maxValueNameChars);
        if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = static_cast<DWORD>(stats.maxDataBytes);
        if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
        if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FileTimeOf(stats.written);
        return ERROR_SUCCESS;
    });
}

extern "C" LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                              LPWSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) {
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = ResolveKey(hKey, key)) return status;
        if ((key.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
        Store& store = *key.store;
        return store.Transact(false, [&]() -> LONG {
            return store.SubkeyAt(key.id, dwIndex, [&](const void* name, size_t bytes, int64_t written) -> LONG {
                size_t units = bytes / sizeof(WCHAR);
                if (units >= *lpcchName) return ERROR_MORE_DATA;
                if (units != 0) std::memcpy(lpName, name, units * sizeof(WCHAR));
                lpName[units] = u'\0';
                *lpcchName = static_cast<DWORD>(units);
                if (lpClass != nullptr && lpcchClass != nullptr && *lpcchClass > 0) lpClass[0] = u'\0';
                if (lpcchClass != nullptr) *lpcchClass = 0;
                if (lpftLastWriteTime != nullptr) *lpftLastWriteTime = FileTimeOf(written);
                return ERROR_SUCCESS;
            });
        });
    });
}

extern "C" LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = ResolveKey(hKey, key)) return status;
        std::u16string_view path;
        if (LONG status = ReadKeyPath(lpSubKey, path)) return status;
        Store& store = *key.store;
        if (IsEmptyPath(path)) {
            // Empties the handle's own key, which changes its values.
            if ((key.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
            return store.Transact(true, [&]() -> LONG { return store.DeleteTree(key.id, true); });
        }
        return store.Transact(true, [&]() -> LONG {
            int64_t target = 0;
            if (LONG status = store.Walk(key.id, path, target)) return status;
            return store.DeleteTree(target, false);
        });
    });
}

extern "C" LONG RegFlushKey(HKEY hKey) {
    return Guarded([&]() -> LONG {
        KeyRef key;
        if (LONG status = ResolveKey(hKey, key)) return status;
        Store& store = *key.store;
        if (LONG status = store.Transact(false, [&]() -> LONG { return store.CheckKey(key.id); })) return status;
        return store.Sync();
    });
}

uint32_t platform::RegistryOpenHandleCount() noexcept { return OpenHandleCount(); }
