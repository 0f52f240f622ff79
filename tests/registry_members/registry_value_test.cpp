// GetRegistryValue: any value under any key path, its bytes as UTF-16 units.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "members_fixture.h"

namespace members_test {
namespace {

using namespace std::string_literals;

constexpr char16_t kKey[] = u"Software\\Test\\Reader";
const std::u16string kNoKey = u"no key";

struct StoredCase {
    const char* name;
    DWORD type;
    Bytes data;
    Read expected;
    friend void PrintTo(const StoredCase& c, std::ostream* os) { *os << c.name; }
};

class StoredValueTest : public MembersTest, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredValueTest, ReadsTheBytesAsUnits) {
    const StoredCase& c = GetParam();
    Put(kKey, u"v", c.type, c.data);
    EXPECT_EQ(RegistryValue(kKey, u"v"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, StoredValueTest,
    ::testing::Values(
        // A text stored with its terminator reads back with the NUL as its last unit.
        StoredCase{"sz_3_with_terminator", REG_SZ, Utf16(u"abc", true), {1, u"abc\0"s}},
        StoredCase{"sz_254_with_terminator", REG_SZ, Utf16(Text(254), true), {1, Text(254) + u'\0'}},
        StoredCase{"sz_255_no_terminator_510_bytes", REG_SZ, Utf16(Text(255), false), {1, Text(255)}},
        StoredCase{"sz_255_with_terminator_512_bytes", REG_SZ, Utf16(Text(255), true), {0, kNoKey}},
        StoredCase{"sz_300_with_terminator_602_bytes", REG_SZ, Utf16(Text(300), true), {0, kNoKey}},
        StoredCase{"embedded_nul_kept", REG_SZ, Utf16(u"a\0b"s, true), {1, u"a\0b\0"s}},
        // The type is not looked at: four DWORD bytes are two units.
        StoredCase{"dword_as_two_units", REG_DWORD, Dword(0x00420041), {1, u"AB"}},
        StoredCase{"dword_all_bits", REG_DWORD, Dword(0xFFFFFFFF), {1, u"\xFFFF\xFFFF"}},
        // An odd last byte is dropped; a single byte is found but gives no unit.
        StoredCase{"one_byte", REG_BINARY, {0x41}, {1, u""}},
        StoredCase{"three_bytes", REG_BINARY, {0x41, 0x00, 0x42}, {1, u"A"}},
        StoredCase{"509_bytes", REG_BINARY, Bytes(509, 0x41), {1, std::u16string(254, u'\x4141')}},
        StoredCase{"511_bytes", REG_BINARY, Bytes(511, 0x41), {0, kNoKey}},
        StoredCase{"no_data", REG_SZ, {}, {0, kNoKey}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LookupCase {
    const char* name;
    std::u16string keyPath;
    std::u16string valueName;
    Read expected;
    friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

class LookupTest : public MembersTest, public ::testing::WithParamInterface<LookupCase> {};

// The store holds "Software\Test\Reader" with "v" = "x" and a default value "d".
TEST_P(LookupTest, FindsTheValueTheStoreNames) {
    Put(kKey, u"v", REG_SZ, Utf16(u"x", true));
    Put(kKey, u"", REG_SZ, Utf16(u"d", true));
    const LookupCase& c = GetParam();
    EXPECT_EQ(RegistryValue(c.keyPath, c.valueName), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LookupTest,
    ::testing::Values(LookupCase{"exact", kKey, u"v", {1, u"x\0"s}},
                      LookupCase{"other_case", u"SOFTWARE\\test\\READER", u"V", {1, u"x\0"s}},
                      LookupCase{"trailing_backslash", u"Software\\Test\\Reader\\", u"v", {1, u"x\0"s}},
                      LookupCase{"default_value", kKey, u"", {1, u"d\0"s}},
                      // The store reads paths and names up to their first NUL.
                      LookupCase{"nul_in_path", u"Software\\Test\\Reader\0\\Deeper"s, u"v", {1, u"x\0"s}},
                      LookupCase{"nul_in_name", kKey, u"v\0ignored"s, {1, u"x\0"s}},
                      LookupCase{"missing_value", kKey, u"w", {0, kNoKey}},
                      LookupCase{"missing_key", u"Software\\Test\\Nowhere", u"v", {0, kNoKey}},
                      LookupCase{"leading_backslash", u"\\Software\\Test\\Reader", u"v", {0, kNoKey}},
                      // The empty path is the hive's root, which holds no values here.
                      LookupCase{"root", u"", u"v", {0, kNoKey}}),
    [](const auto& info) { return std::string(info.param.name); });

// Null Strings are empty texts: the root's default value, absent here.
TEST_F(MembersTest, NullArgumentsReadTheRootsDefaultValue) {
    INT32 found = -1;
    HSTRING text = nullptr;
    ASSERT_EQ(statics()->GetRegistryValue(nullptr, nullptr, &found, &text), S_OK);
    platform::UniqueHString owned(text);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(morvala::test::ToU16(text), kNoKey);
}

}  // namespace
}  // namespace members_test
