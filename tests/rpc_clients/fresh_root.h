// A fresh device root for each test: a new temporary folder set as
// MORVALA_ROOT for the test's duration, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace morvala::test {

class FreshRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/morvala-svc-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("MORVALA_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("MORVALA_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::string& root() const { return root_; }

private:
    std::string root_;
};

}  // namespace morvala::test
