// The system code pages come from the device's registry, as the platform's
// NLS settings do. They are fixed for a running system, so each process reads
// them once per device root.
#include <mutex>
#include <string>

#include "platform/deviceroot.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

constexpr WCHAR kCodePageKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";

// Reads a REG_SZ decimal code page; `fallback` when absent or not a number.
UINT ReadCodePage(const WCHAR* valueName, UINT fallback) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCodePageKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return fallback;
    platform::UniqueHkey owned(key);
    WCHAR text[16] = {};
    DWORD type = 0;
    DWORD size = sizeof(text) - sizeof(WCHAR);  // keep a terminator
    LONG status = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status != ERROR_SUCCESS || type != REG_SZ) return fallback;
    LONG number = _wtol(text);
    return number > 0 ? static_cast<UINT>(number) : fallback;
}

// One code-page setting, read once per device root.
class CachedCodePage {
public:
    CachedCodePage(const WCHAR* valueName, UINT fallback) : valueName_(valueName), fallback_(fallback) {}

    UINT Get() {
        std::string root = platform::DeviceRoot();
        std::lock_guard guard(mutex_);
        if (value_ == 0 || root != root_) {
            value_ = ReadCodePage(valueName_, fallback_);
            root_ = std::move(root);
        }
        return value_;
    }

private:
    const WCHAR* valueName_;
    UINT fallback_;
    std::mutex mutex_;
    std::string root_;
    UINT value_ = 0;
};

CachedCodePage ansiCodePage(u"ACP", 1252);
CachedCodePage oemCodePage(u"OEMCP", 437);

}  // namespace

extern "C" {

UINT GetACP() { return ansiCodePage.Get(); }

UINT GetOEMCP() { return oemCodePage.Get(); }

}  // extern "C"
