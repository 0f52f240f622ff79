// A fresh device root per test and small helpers over the Reg* functions.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace registry_test {

// Each test runs in a new temporary folder set as MORVALA_ROOT; at the end no
// key handle may be left open and the folder is removed.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& Root() const { return root_; }
    std::string StorePath() const { return root_ + "/registry.db"; }

    // Creates (or opens) HKLM\path with access; fails the test on error.
    platform::UniqueHkey Create(const std::u16string& path, REGSAM access = KEY_ALL_ACCESS);
    // Opens HKLM\path; the code in status, the handle (or null) returned.
    platform::UniqueHkey Open(const std::u16string& path, REGSAM access, LONG& status);

private:
    std::string root_;
};

// UTF-16 units as the bytes the registry stores, with a NUL unit when asked.
std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool terminator);

// Sets a value; returns the code.
LONG SetBytes(HKEY key, const char16_t* name, DWORD type, const std::vector<BYTE>& bytes);

// Reads a whole value (type and bytes); returns the code.
LONG GetBytes(HKEY key, const char16_t* name, DWORD& type, std::vector<BYTE>& bytes);

// Names of all subkeys / values in enumeration order.
std::vector<std::u16string> SubkeyNames(HKEY key);
std::vector<std::u16string> ValueNames(HKEY key);

// The recorded results of a forked child: the child runs body, which pushes
// codes; the parent gets them back. The child never returns into the test.
std::vector<LONG> RunInChild(void (*body)(std::vector<LONG>& results), bool dropToNobody);

}  // namespace registry_test
