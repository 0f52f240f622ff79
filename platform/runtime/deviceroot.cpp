#include "platform/deviceroot.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
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

int MakeFolders(const std::string& path) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return errno;
        if (end == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string EnsureDeviceRoot() {
    std::string root = DeviceRoot();
    if (int error = MakeFolders(root); error != 0) {
        LONG code = error == EACCES || error == EPERM || error == EROFS ? ERROR_ACCESS_DENIED : ERROR_CANTOPEN;
        throw RuntimeError(HRESULT_FROM_WIN32(code));
    }
    return root;
}

}  // namespace platform
