// SetBrightnessValue (decimal text stored as a 32-bit number) and
// SetAccessoriesVersion (text stored without its terminator).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "members_fixture.h"

namespace members_test {
namespace {

using namespace std::string_literals;

struct NumberCase {
    const char* name;
    std::u16string text;
    Bytes stored;
    friend void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.name; }
};

class BrightnessTest : public MembersTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(BrightnessTest, StoresTheNumberAsFourBytes) {
    const NumberCase& c = GetParam();
    SetBrightness(u"Level", c.text);
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(Get(kBrightness, u"Level", type, data));
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, c.stored);
    // The general reader gives the four bytes as two units.
    const std::u16string units{static_cast<char16_t>(c.stored[0] | c.stored[1] << 8),
                               static_cast<char16_t>(c.stored[2] | c.stored[3] << 8)};
    EXPECT_EQ(RegistryValue(kBrightness, u"Level"), (Read{1, units}));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BrightnessTest,
    ::testing::Values(NumberCase{"forty_two", u"42", {0x2A, 0, 0, 0}},
                      NumberCase{"spaces_minus_then_letters", u"  -7abc", {0xF9, 0xFF, 0xFF, 0xFF}},
                      NumberCase{"plus_sign", u"+214", Dword(214)},
                      NumberCase{"whitespace_kinds", u" \t\n\v\f\r-5", Dword(static_cast<uint32_t>(-5))},
                      NumberCase{"leading_zeros_decimal", u"056789", Dword(56789)},
                      NumberCase{"stops_at_space", u"214 0", Dword(214)},
                      NumberCase{"stops_at_point", u"3.9", Dword(3)},
                      NumberCase{"letters_only", u"abc", Dword(0)},
                      NumberCase{"empty", u"", Dword(0)},
                      NumberCase{"hexadecimal", u"0x12", Dword(0)},
                      NumberCase{"two_signs", u"--5", Dword(0)},
                      NumberCase{"sign_only", u"-", Dword(0)},
                      NumberCase{"control_char_not_space", u"\x01" u"5", Dword(0)},
                      NumberCase{"nul_ends_the_text", u"4\0" u"2"s, Dword(4)},
                      NumberCase{"largest", u"2147483647", {0xFF, 0xFF, 0xFF, 0x7F}},
                      NumberCase{"smallest", u"-2147483648", {0x00, 0x00, 0x00, 0x80}},
                      // Outside 32 bits the number saturates.
                      NumberCase{"above_range", u"2147483648", {0xFF, 0xFF, 0xFF, 0x7F}},
                      NumberCase{"far_above_range", u"99999999999999999999", {0xFF, 0xFF, 0xFF, 0x7F}},
                      NumberCase{"below_range", u"-2147483649", {0x00, 0x00, 0x00, 0x80}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MembersTest, BrightnessEmptyNameWritesTheDefaultValue) {
    SetBrightness(u"", u"9");
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(Get(kBrightness, u"", type, data));
    EXPECT_EQ(data, Dword(9));
    EXPECT_EQ(RegistryValue(kBrightness, u""), (Read{1, u"\x0009\0"s}));
}

TEST_F(MembersTest, BrightnessKeyIsTheUpperCaseKeyOfTheOtherSettings) {
    SetBrightness(u"Level", u"1");
    SetBrightness(u"level", u"2");  // value names ignore case too: one value
    EXPECT_TRUE(KeyExists(u"SOFTWARE\\OEM\\MORVALA\\BRIGHTNESSINTERFACE"));
    EXPECT_EQ(RegistryValue(u"Software\\OEM\\MORVALA\\BrightnessInterface", u"LEVEL"), (Read{1, u"\x0002\0"s}));
}

struct VersionCase {
    const char* name;
    std::u16string version;
    Read readBack;
    friend void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }
};

class VersionTest : public MembersTest, public ::testing::WithParamInterface<VersionCase> {};

// The version is stored as its units without a terminator, so the general
// reader gives exactly those units; an empty one stores no bytes.
TEST_P(VersionTest, ReadsBackAsItsOwnUnits) {
    const VersionCase& c = GetParam();
    SetVersion(u"old-version");
    SetVersion(c.version);
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(Get(kAccessories, u"Version", type, data));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, Utf16(c.version, false));
    EXPECT_EQ(RegistryValue(kAccessories, u"Version"), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTest,
                         ::testing::Values(VersionCase{"text", u"1.2.3", {1, u"1.2.3"}},
                                           VersionCase{"one_unit", u"7", {1, u"7"}},
                                           VersionCase{"255_units", Text(255), {1, Text(255)}},
                                           VersionCase{"256_units_past_reader", Text(256), {0, u"no key"}},
                                           VersionCase{"embedded_nul", u"1\0" u"2"s, {1, u"1\0" u"2"s}},
                                           VersionCase{"empty", u"", {0, u"no key"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MembersTest, SettersCreateTheirKeysOnAnEmptyStore) {
    EXPECT_FALSE(KeyExists(u"Software\\OEM"));
    SetVersion(u"v");
    SetBrightness(u"b", u"1");
    SetDeviceValue(u"d", u"n", u"x");
    EXPECT_TRUE(KeyExists(kAccessories));
    EXPECT_TRUE(KeyExists(kBrightness));
    EXPECT_TRUE(KeyExists(std::u16string(kDevices) + u"d"));
}

}  // namespace
}  // namespace members_test
