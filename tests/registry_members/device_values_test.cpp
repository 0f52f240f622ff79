// GetDeviceValues and SetDeviceValue: every value of one device as text.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "members_fixture.h"

namespace members_test {
namespace {

using namespace std::string_literals;

const std::u16string kDevice = std::u16string(kDevices) + u"dev";

struct ShownCase {
    const char* name;
    DWORD type;
    Bytes data;
    std::u16string shown;
    friend void PrintTo(const ShownCase& c, std::ostream* os) { *os << c.name; }
};

class ShownValueTest : public MembersTest, public ::testing::WithParamInterface<ShownCase> {};

TEST_P(ShownValueTest, ShowsTheValueAsText) {
    const ShownCase& c = GetParam();
    Put(kDevice, u"v", c.type, c.data);
    EXPECT_EQ(DeviceValues(u"dev"), (Pairs{{u"v", c.shown}}));
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Types, ShownValueTest,
    ::testing::Values(
        ShownCase{"dword_10", REG_DWORD, Dword(10), u"10"},
        ShownCase{"dword_zero", REG_DWORD, Dword(0), u"0"},
        ShownCase{"dword_all_bits", REG_DWORD, Dword(0xFFFFFFFF), u"-1"},
        ShownCase{"dword_largest", REG_DWORD, Dword(0x7FFFFFFF), u"2147483647"},
        ShownCase{"dword_smallest", REG_DWORD, Dword(0x80000000), u"-2147483648"},
        // Fewer than four bytes: the number those bytes make, high bytes zero.
        ShownCase{"dword_one_byte", REG_DWORD, {0xFF}, u"255"},
        ShownCase{"dword_two_bytes", REG_DWORD, {0x34, 0x12}, u"4660"},
        ShownCase{"dword_three_bytes", REG_DWORD, {0xFF, 0xFF, 0xFF}, u"16777215"},
        ShownCase{"dword_no_bytes", REG_DWORD, {}, u"0"},
        // More than four: the first four.
        ShownCase{"dword_eight_bytes", REG_DWORD, Join(Dword(7), Dword(9)), u"7"},
        ShownCase{"sz", REG_SZ, Utf16(u"hello", true), u"hello"},
        ShownCase{"sz_no_terminator", REG_SZ, Utf16(u"hello", false), u"hello"},
        ShownCase{"sz_odd_byte_dropped", REG_SZ, Join(Utf16(u"hi", false), {0x41}), u"hi"},
        ShownCase{"sz_254_units_510_bytes", REG_SZ, Utf16(Text(254), true), Text(254)},
        ShownCase{"sz_255_units_no_terminator_510_bytes", REG_SZ, Utf16(Text(255), false), Text(255)},
        ShownCase{"multi_sz_first_string", REG_MULTI_SZ, Utf16(u"one\0two\0\0"s, false), u"one"},
        ShownCase{"expand_sz_unexpanded", REG_EXPAND_SZ, Utf16(u"%HOME%\\x", true), u"%HOME%\\x"},
        ShownCase{"binary_as_units", REG_BINARY, {0x41, 0x00, 0x42, 0x00}, u"AB"},
        ShownCase{"empty_sz", REG_SZ, {}, u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MembersTest, LeavesOutValuesPastTheCapacities) {
    Put(kDevice, u"fits", REG_SZ, Utf16(Text(254), true));                // 510 bytes
    Put(kDevice, u"too_long_data", REG_SZ, Utf16(Text(255), true));       // 512 bytes
    Put(kDevice, std::u16string(254, u'n'), REG_SZ, Utf16(u"a", true));   // longest name read
    Put(kDevice, std::u16string(255, u'm'), REG_SZ, Utf16(u"b", true));   // one too long
    EXPECT_EQ(DeviceValues(u"dev"), (Pairs{{u"fits", Text(254)}, {std::u16string(254, u'n'), u"a"}}));
}

TEST_F(MembersTest, OrdersNamesOrdinallyWhateverTheStoreOrder) {
    for (const char16_t* name : {u"b", u"a1", u"D", u"_", u"a", u"", u"C"})
        Put(kDevice, name, REG_SZ, Utf16(name, true));
    // Ordinal: the default value (empty name) first, capitals before '_'
    // before small letters ("C" before "a"), a prefix before its extensions.
    EXPECT_EQ(DeviceValues(u"dev"),
              (Pairs{{u"", u""}, {u"C", u"C"}, {u"D", u"D"}, {u"_", u"_"}, {u"a", u"a"}, {u"a1", u"a1"}, {u"b", u"b"}}));
}

TEST_F(MembersTest, DefaultValueShowsUnderTheEmptyKey) {
    Put(kDevice, u"", REG_SZ, Utf16(u"default", true));
    EXPECT_EQ(DeviceValues(u"dev"), (Pairs{{u"", u"default"}}));
}

TEST_F(MembersTest, MissingDeviceGivesAnEmptyMap) {
    EXPECT_EQ(DeviceValues(u"nobody"), Pairs{});
    Put(kDevice, u"v", REG_SZ, Utf16(u"x", true));
    EXPECT_EQ(DeviceValues(u"nobody"), Pairs{});
}

TEST_F(MembersTest, DeviceIdIsReadUpToItsFirstNul) {
    Put(kDevice, u"v", REG_SZ, Utf16(u"x", true));
    EXPECT_EQ(DeviceValues(u"dev\0other"s), (Pairs{{u"v", u"x"}}));
    EXPECT_EQ(DeviceValues(u"DEV"), (Pairs{{u"v", u"x"}})) << "the store's names ignore case";
}

struct RoundTripCase {
    const char* name;
    std::u16string deviceId;
    std::u16string valueName;
    std::u16string value;
    std::u16string storedName;  // the name the store sees
    std::optional<std::u16string> shown;  // what GetDeviceValues shows; none: left out
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

class RoundTripTest : public MembersTest, public ::testing::WithParamInterface<RoundTripCase> {};

// SetDeviceValue stores the text with its terminator as REG_SZ, creating the
// device's key; GetDeviceValues and GetRegistryValue read it back.
TEST_P(RoundTripTest, WrittenTextReadsBack) {
    const RoundTripCase& c = GetParam();
    SetDeviceValue(c.deviceId, c.valueName, c.value);
    const std::u16string path = std::u16string(kDevices) + c.deviceId.substr(0, c.deviceId.find(u'\0'));
    DWORD type = 0;
    Bytes data;
    ASSERT_TRUE(Get(path, c.storedName, type, data));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, Utf16(c.value, true));
    const Pairs shown = c.shown ? Pairs{{c.storedName, *c.shown}} : Pairs{};
    EXPECT_EQ(DeviceValues(c.deviceId), shown);
    if (c.value.size() <= 254) {
        EXPECT_EQ(RegistryValue(path, c.storedName), (Read{1, c.value + u'\0'}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RoundTripTest,
    ::testing::Values(RoundTripCase{"short", u"dev", u"Name", u"Value", u"Name", u"Value"},
                      RoundTripCase{"empty_text", u"dev", u"Name", u"", u"Name", u""},
                      RoundTripCase{"text_254", u"dev", u"Name", Text(254), u"Name", Text(254)},
                      // 255 units and the terminator are 512 bytes: stored, but past the reading capacity.
                      RoundTripCase{"text_255_stored_not_shown", u"dev", u"Name", Text(255), u"Name", std::nullopt},
                      RoundTripCase{"default_value", u"dev", u"", u"d", u"", u"d"},
                      RoundTripCase{"nul_in_name", u"dev", u"Na\0me"s, u"v", u"Na", u"v"},
                      RoundTripCase{"nul_in_text", u"dev", u"Name", u"a\0b"s, u"Name", u"a"},
                      RoundTripCase{"nul_in_id", u"de\0v"s, u"Name", u"v", u"Name", u"v"},
                      RoundTripCase{"id_254", Text(254), u"Name", u"v", u"Name", u"v"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace members_test
