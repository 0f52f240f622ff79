// The platform's registry: a tree of keys under HKEY_LOCAL_MACHINE, each with
// named, typed values, kept in one store per device root that every process
// on the device shares. The functions keep the platform's names, signatures,
// error codes and C linkage; only HKEY_LOCAL_MACHINE is served.
//
// Conventions shared by every function below:
// - Names are UTF-16 and read up to their first NUL. Key and value names
//   compare without regard to case (each UTF-16 unit upper-cased on its own).
// - Paths separate components with backslashes; runs of backslashes count as
//   one, trailing backslashes are ignored, a leading one is ERROR_BAD_PATHNAME.
//   A key name component holds at most 255 characters, a value name 16,383.
// - Each call is atomic: it happens entirely or not at all, and a call that
//   returned ERROR_SUCCESS survives a crash of any process.
// - A handle remembers the access it was opened with; a call that needs a
//   right the handle lacks answers ERROR_ACCESS_DENIED. A handle whose key was
//   deleted (through any handle, in any process) answers ERROR_KEY_DELETED.
// - Handles belong to the process and may be used from any thread; the caller
//   closes each one with RegCloseKey. A handle stays bound to the store of the
//   device root that was current when its root-relative open ran.
// - Store failures: ERROR_BUSY (another process held the store longer than the
//   bounded wait), ERROR_ACCESS_DENIED (the store cannot be written by this
//   process), ERROR_BADDB (the store file is damaged or not ours),
//   ERROR_REGISTRY_IO_FAILED / ERROR_DISK_FULL (the file system failed).
#pragma once

#include <cstdint>
#include <utility>

#include "platform/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined root, with the platform's value (sign-extended like the
// platform's LONG-to-pointer cast). It is always open and never needs closing.
#define HKEY_LOCAL_MACHINE \
    (reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<intptr_t>(static_cast<LONG>(0x80000002u)))))

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_DWORD_LITTLE_ENDIAN = 4;
constexpr DWORD REG_DWORD_BIG_ENDIAN = 5;
constexpr DWORD REG_LINK = 6;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;
constexpr DWORD REG_QWORD_LITTLE_ENDIAN = 11;

// Access rights of a key handle.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE = 0x00010000;
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM WRITE_DAC = 0x00040000;
constexpr REGSAM WRITE_OWNER = 0x00080000;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
constexpr REGSAM GENERIC_ALL = 0x10000000;
constexpr REGSAM GENERIC_EXECUTE = 0x20000000;
constexpr REGSAM GENERIC_WRITE = 0x40000000;
constexpr REGSAM GENERIC_READ = 0x80000000;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = 0x20019;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Options and dispositions of RegCreateKeyExW.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

extern "C" {

// Opens hKey\lpSubKey with samDesired. Success: ERROR_SUCCESS and a new handle
// in *phkResult that the caller closes; an empty or NULL lpSubKey on
// HKEY_LOCAL_MACHINE gives HKEY_LOCAL_MACHINE itself, on another handle a new
// handle to the same key. Failure: a non-zero code and *phkResult = NULL
// (ERROR_FILE_NOT_FOUND for a missing key, ERROR_ACCESS_DENIED for write
// access to a store this process cannot write). ulOptions is ignored.
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// Opens hKey\lpSubKey, creating it and every missing key on the way. Success:
// ERROR_SUCCESS, a handle in *phkResult the caller closes, and in
// *lpdwDisposition (when given) REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
// Keys have no class and default security, so lpClass and
// lpSecurityAttributes are ignored; Reserved and dwOptions must be 0
// (volatile keys are not offered), else ERROR_INVALID_PARAMETER. The rights
// of hKey are not consulted. Failure: a non-zero code, *phkResult = NULL,
// nothing created.
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                     DWORD* lpdwDisposition);

// Stores exactly cbData bytes from lpData as value lpValueName (NULL or empty:
// the default value) of type dwType, replacing a value of that name in its
// place of the enumeration order. Nothing is appended to string data. Needs
// KEY_SET_VALUE. lpData NULL with cbData > 0: ERROR_NOACCESS.
LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);

// Reads value lpValueName. Needs KEY_QUERY_VALUE. Success: the type in *lpType
// (when given), the data in lpData and its byte count in *lpcbData; string
// data gets a NUL appended, not counted, when 2 spare bytes remain. lpData
// NULL: only the size is reported. Buffer too small: ERROR_MORE_DATA, the
// needed size in *lpcbData, lpData untouched. Missing value:
// ERROR_FILE_NOT_FOUND (*lpcbData set to 0 only when lpData is NULL).
LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                      DWORD* lpcbData);

// Describes a key; every out pointer may be NULL. Counts of subkeys and values
// (the default value included), longest subkey and value names in characters
// without terminator, largest data in bytes, last write time. Keys have no
// class (empty) and no security descriptor (size 0). Needs no access right.
LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved, DWORD* lpcSubKeys,
                      DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                      DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen, DWORD* lpcbSecurityDescriptor,
                      FILETIME* lpftLastWriteTime);

// The value at dwIndex in the order values were first set. Needs
// KEY_QUERY_VALUE. *lpcchValueName is the name buffer's capacity in characters
// with the terminator; on success the name is NUL-terminated and
// *lpcchValueName its length without it. Name too small: ERROR_MORE_DATA with
// both buffers untouched (type and needed data size still reported). Name
// fits, data too small: ERROR_MORE_DATA with the name written, the needed
// size in *lpcbData, data untouched. Past the end: ERROR_NO_MORE_ITEMS.
LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                   DWORD* lpType, BYTE* lpData, DWORD* lpcbData);

// The subkey at dwIndex in order of upper-cased names (unit by unit, shorter
// first on a common prefix). Needs KEY_ENUMERATE_SUB_KEYS. Capacities as in
// RegEnumValueW; name too small: ERROR_MORE_DATA, buffer and count untouched.
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, DWORD* lpcchName, DWORD* lpReserved, LPWSTR lpClass,
                   DWORD* lpcchClass, FILETIME* lpftLastWriteTime);

// With a non-empty lpSubKey: deletes that key with all its values and subkeys
// (ERROR_FILE_NOT_FOUND when missing). With NULL or empty: deletes every
// value and subkey of hKey itself and keeps the key (needs KEY_SET_VALUE).
LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey);

// Deletes value lpValueName. Needs KEY_SET_VALUE. Missing: ERROR_FILE_NOT_FOUND.
LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

// Releases a handle. HKEY_LOCAL_MACHINE: success, nothing done. NULL, unknown
// or already closed: ERROR_INVALID_HANDLE.
LONG RegCloseKey(HKEY hKey);

// Forces everything committed so far to stable storage (fsync), so that it
// also survives a power loss. Every call is already durable against process
// crashes without it.
LONG RegFlushKey(HKEY hKey);

}  // extern "C"

namespace platform {

// The number of key handles this process holds open (HKEY_LOCAL_MACHINE not
// counted). For leak checks.
uint32_t RegistryOpenHandleCount() noexcept;

// Reads one value by key path in a single read of the store, without a
// handle: the same result and out-parameters as RegOpenKeyExW(hKey,
// lpSubKey, 0, KEY_QUERY_VALUE) followed by RegQueryValueExW(lpValueName,
// NULL, lpType, lpData, lpcbData) and RegCloseKey; when the key does not
// open, the open's error and no out-parameter touched.
LONG RegistryQueryValue(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD* lpType, BYTE* lpData,
                        DWORD* lpcbData) noexcept;

// Writes one value by key path, creating the key (and every missing key above
// it) when needed, in a single write transaction and without a handle: the
// same effect and result as RegCreateKeyExW(hKey, lpSubKey, 0, NULL, 0,
// KEY_SET_VALUE, NULL, &key, NULL) followed by RegSetValueExW(key,
// lpValueName, 0, dwType, lpData, cbData) and RegCloseKey, except that a
// write that fails after the key was found also leaves a missing key
// uncreated (a refused value name still creates it, as the pair does).
LONG RegistrySetValue(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValueName, DWORD dwType, const BYTE* lpData,
                      DWORD cbData) noexcept;

// Owns one key handle and closes it with RegCloseKey. Move-only.
class UniqueHkey {
public:
    UniqueHkey() noexcept = default;
    explicit UniqueHkey(HKEY key) noexcept : key_(key) {}
    UniqueHkey(UniqueHkey&& other) noexcept : key_(other.release()) {}
    UniqueHkey& operator=(UniqueHkey&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHkey(const UniqueHkey&) = delete;
    UniqueHkey& operator=(const UniqueHkey&) = delete;
    ~UniqueHkey() { reset(); }

    HKEY get() const noexcept { return key_; }
    explicit operator bool() const noexcept { return key_ != nullptr; }

    // The slot for an out-parameter: closes the current key first.
    HKEY* put() noexcept {
        reset();
        return &key_;
    }
    // Gives up ownership without closing.
    HKEY release() noexcept { return std::exchange(key_, nullptr); }
    // Closes the current key (if any) and takes ownership of key.
    void reset(HKEY key = nullptr) noexcept {
        HKEY old = std::exchange(key_, key);
        if (old != nullptr) RegCloseKey(old);
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace platform
