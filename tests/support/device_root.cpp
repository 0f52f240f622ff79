#include "support/device_root.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace morvala::test {

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name)) {
    if (const char* current = std::getenv(name_.c_str())) previous_ = current;
    if (value != nullptr) {
        setenv(name_.c_str(), value, 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (previous_) {
        setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

ScopedDeviceRoot::ScopedDeviceRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/morvala-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        ADD_FAILURE() << "cannot make a temporary device root from " << pattern;
        std::abort();
    }
    path_ = buffer.data();
    variable_.emplace("MORVALA_ROOT", path_.c_str());
}

ScopedDeviceRoot::~ScopedDeviceRoot() {
    variable_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace morvala::test
