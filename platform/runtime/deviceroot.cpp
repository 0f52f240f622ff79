#include "platform/deviceroot.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "platform/errors.h"

namespace platform {

namespace {

std::string FromEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string DeviceRoot() {
    if (std::string root = FromEnv("MORVALA_ROOT"); !root.empty()) return WithoutTrailingSlash(root);
    if (std::string data = FromEnv("XDG_DATA_HOME"); !data.empty()) return WithoutTrailingSlash(data) + "/morvala";
    if (std::string home = FromEnv("HOME"); !home.empty()) return WithoutTrailingSlash(home) + "/.local/share/morvala";
    return "/tmp/morvala-" + std::to_string(::getuid());
}

std::string EnsureDeviceRoot() {
    std::string root = DeviceRoot();
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (error) {
        LONG code = error.value() == EACCES || error.value() == EPERM || error.value() == EROFS
                        ? ERROR_ACCESS_DENIED
                        : ERROR_CANTOPEN;
        throw RuntimeError(HRESULT_FROM_WIN32(code));
    }
    return root;
}

}  // namespace platform
