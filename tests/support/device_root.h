// A fresh device root for one test: a new temporary folder, set as
// MORVALA_ROOT while the object lives; the previous value is restored and the
// folder removed afterwards.
#pragma once

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace morvala::test {

// Sets (or, with a null value, unsets) an environment variable for a scope,
// restoring the earlier value at the end.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

class ScopedDeviceRoot {
public:
    // Makes the folder under $TMPDIR (or /tmp); aborts the test on failure.
    ScopedDeviceRoot();
    ~ScopedDeviceRoot();
    ScopedDeviceRoot(const ScopedDeviceRoot&) = delete;
    ScopedDeviceRoot& operator=(const ScopedDeviceRoot&) = delete;

    // The folder, without a trailing slash.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::optional<ScopedEnvironment> variable_;
};

// Fixture: every test gets its own device root (root().Path()).
class DeviceRootTest : public ::testing::Test {
protected:
    const ScopedDeviceRoot& root() const { return root_; }

private:
    ScopedDeviceRoot root_;
};

}  // namespace morvala::test
