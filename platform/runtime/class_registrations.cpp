// Registrations of runtime classes: a programmatic table that takes precedence
// and the manifest file named by MORVALA_MANIFEST (format in activation.h).
#include "class_registrations.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <new>

#include "platform/activation.h"

namespace platform::loader {
namespace {

std::mutex registrationsLock;

std::map<std::string, std::string>& Registrations() {
    static std::map<std::string, std::string> registrations;
    return registrations;
}

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// A relative library path is taken relative to the manifest's folder.
std::string ResolveAgainst(const std::string& manifestPath, const std::string& libraryPath) {
    if (libraryPath.front() == '/') return libraryPath;
    size_t slash = manifestPath.rfind('/');
    if (slash == std::string::npos) return libraryPath;
    return manifestPath.substr(0, slash + 1) + libraryPath;
}

std::optional<std::string> FindInManifest(const std::string& className) {
    const char* manifestPath = std::getenv("MORVALA_MANIFEST");
    if (manifestPath == nullptr || *manifestPath == '\0') return std::nullopt;
    std::ifstream manifest(manifestPath);
    std::string line;
    while (std::getline(manifest, line)) {
        std::string content = Trim(line);
        if (content.empty() || content.front() == '#') continue;
        size_t equals = content.find('=');
        if (equals == std::string::npos) continue;
        std::string name = Trim(content.substr(0, equals));
        std::string path = Trim(content.substr(equals + 1));
        if (name.empty() || path.empty() || name != className) continue;
        return ResolveAgainst(manifestPath, path);
    }
    return std::nullopt;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::optional<std::string> ClassNameToUtf8(const WCHAR* units, UINT32 length) {
    std::string out;
    for (UINT32 i = 0; i < length; ++i) {
        WCHAR unit = units[i];
        if (unit == 0 || IsLowSurrogate(unit)) return std::nullopt;
        if (!IsHighSurrogate(unit)) {
            AppendUtf8(out, unit);
            continue;
        }
        if (i + 1 == length || !IsLowSurrogate(units[i + 1])) return std::nullopt;
        AppendUtf8(out, 0x10000u + ((unit - 0xD800u) << 10) + (units[i + 1] - 0xDC00u));
        ++i;
    }
    return out;
}

std::optional<std::string> FindServingLibrary(const std::string& className) {
    {
        std::lock_guard guard(registrationsLock);
        auto found = Registrations().find(className);
        if (found != Registrations().end()) return found->second;
    }
    return FindInManifest(className);
}

}  // namespace platform::loader

extern "C" {

HRESULT RoRegisterActivatableClass(const char* className, const char* libraryPath) {
    if (className == nullptr || *className == '\0' || libraryPath == nullptr || *libraryPath == '\0')
        return E_INVALIDARG;
    try {
        std::lock_guard guard(platform::loader::registrationsLock);
        platform::loader::Registrations().insert_or_assign(className, libraryPath);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RoRevokeActivatableClass(const char* className) {
    if (className == nullptr) return E_INVALIDARG;
    std::lock_guard guard(platform::loader::registrationsLock);
    return platform::loader::Registrations().erase(className) == 1 ? S_OK : S_FALSE;
}

}  // extern "C"
