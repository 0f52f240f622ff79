// A fresh device root with the component reached through the loader, the
// RegistryManager statics, and small helpers that put values into the store
// directly and read the members' results back as plain C++ values.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "MorvalaFrameworkUiWinPRT.h"
#include "platform/collections.h"
#include "platform/registry.h"
#include "support/component_loader.h"
#include "support/hstring.h"

namespace members_test {

using Bytes = std::vector<BYTE>;
using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

inline constexpr char16_t kDevices[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
inline constexpr char16_t kAccessories[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\";
inline constexpr char16_t kBrightness[] = u"Software\\OEM\\Morvala\\BrightnessInterface";

using morvala::test::Utf16;
// The four little-endian bytes of a 32-bit number.
Bytes Dword(uint32_t number);
// `count` units of a repeating pattern of letters and digits (no NUL).
std::u16string Text(size_t count);

// The read-back of GetRegistryValue.
struct Read {
    INT32 found;
    std::u16string text;
    bool operator==(const Read&) const = default;
    friend void PrintTo(const Read& r, std::ostream* os) {
        *os << "{found " << r.found << ", " << ::testing::PrintToString(r.text) << "}";
    }
};

class MembersTest : public morvala::test::ComponentTest {
protected:
    void SetUp() override;
    // Checks that every key handle opened during the test was closed.
    void TearDown() override;

    // Stores a value directly (creating the key); fails the test on error.
    static void Put(std::u16string_view keyPath, std::u16string_view name, DWORD type, const Bytes& data);
    // A value's type and bytes as the store holds them; false when missing.
    static bool Get(std::u16string_view keyPath, std::u16string_view name, DWORD& type, Bytes& data);
    static bool KeyExists(std::u16string_view keyPath);

    // The members, through the statics' slots; each expects S_OK.
    Pairs DeviceValues(std::u16string_view deviceId);
    void SetDeviceValue(std::u16string_view deviceId, std::u16string_view name, std::u16string_view value);
    void SetBrightness(std::u16string_view name, std::u16string_view value);
    std::vector<std::u16string> DeviceIds();
    Read RegistryValue(std::u16string_view keyPath, std::u16string_view name);
    void DeleteDevice(std::u16string_view deviceId);
    void SetVersion(std::u16string_view version);
    bool DeviceExists(std::u16string_view deviceId);

    MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics* statics() const { return statics_.get(); }

private:
    platform::ComPtr<MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics> statics_;
    uint32_t handlesAtStart_ = 0;
};

// Everything a map holds, in its iteration order.
Pairs MapContents(IMap_String_String* map);
// Everything a vector holds, in index order.
std::vector<std::u16string> VectorContents(IVector_String* vector);

}  // namespace members_test
