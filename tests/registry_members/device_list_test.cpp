// GetDeviceIds, DeviceExists and DeleteDevice over the devices key.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "members_fixture.h"

namespace members_test {
namespace {

using namespace std::string_literals;
using Ids = std::vector<std::u16string>;

std::u16string DevicePath(std::u16string_view id) { return std::u16string(kDevices) + std::u16string(id); }


class DeviceListTest : public MembersTest {
protected:
    static void Add(std::u16string_view id) { Put(DevicePath(id), u"v", REG_SZ, Utf16(u"x", true)); }
};

TEST_F(DeviceListTest, NoDevicesKeyGivesAnEmptyVector) {
    EXPECT_EQ(DeviceIds(), Ids{});  // the helper fails the test when the vector is absent
    EXPECT_FALSE(DeviceExists(u"anything"));
    EXPECT_FALSE(DeviceExists(u""));
}

TEST_F(DeviceListTest, ListsDevicesInTheStoresOrder) {
    for (const char16_t* id : {u"beta", u"Alpha", u"gamma", u"_x"}) Add(id);
    // The store enumerates subkeys by upper-cased name: "_" (0x5F) after letters.
    EXPECT_EQ(DeviceIds(), (Ids{u"Alpha", u"beta", u"gamma", u"_x"}));
}

TEST_F(DeviceListTest, NameCapacityEdges) {
    Add(Text(254));
    Add(std::u16string(255, u'z'));  // a legal key name, too long to be listed
    EXPECT_EQ(DeviceIds(), (Ids{Text(254)}));
    EXPECT_TRUE(DeviceExists(Text(254)));
    EXPECT_FALSE(DeviceExists(std::u16string(255, u'z')));
}

struct ExistsCase {
    const char* name;
    std::u16string id;
    bool exists;
    friend void PrintTo(const ExistsCase& c, std::ostream* os) { *os << c.name; }
};

class DeviceExistsTest : public DeviceListTest, public ::testing::WithParamInterface<ExistsCase> {};

// The store holds devices "Phone" and "Watch"; the comparison is ordinal over
// every unit, although the store's names ignore case.
TEST_P(DeviceExistsTest, ComparesEveryUnit) {
    Add(u"Phone");
    Add(u"Watch");
    EXPECT_EQ(DeviceExists(GetParam().id), GetParam().exists);
}

INSTANTIATE_TEST_SUITE_P(Ids, DeviceExistsTest,
                         ::testing::Values(ExistsCase{"exact", u"Phone", true},
                                           ExistsCase{"second", u"Watch", true},
                                           ExistsCase{"other_case", u"phone", false},
                                           ExistsCase{"all_capitals", u"PHONE", false},
                                           ExistsCase{"prefix", u"Phon", false},
                                           ExistsCase{"longer", u"Phones", false},
                                           ExistsCase{"empty", u"", false},
                                           ExistsCase{"embedded_nul", u"Phone\0x"s, false},
                                           ExistsCase{"trailing_nul", u"Phone\0"s, false},
                                           ExistsCase{"missing", u"Tablet", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceListTest, SetDeviceValueCreatesTheEntry) {
    SetDeviceValue(u"Fresh", u"n", u"v");
    EXPECT_EQ(DeviceIds(), (Ids{u"Fresh"}));
    EXPECT_TRUE(DeviceExists(u"Fresh"));
}

TEST_F(DeviceListTest, DeleteRemovesTheEntryWithEverythingBelowIt) {
    Add(u"Gone");
    Add(u"Stays");
    Put(DevicePath(u"Gone\\Sub"), u"deep", REG_DWORD, Dword(1));
    DeleteDevice(u"Gone");
    EXPECT_EQ(DeviceValues(u"Gone"), Pairs{});
    EXPECT_FALSE(DeviceExists(u"Gone"));
    EXPECT_FALSE(KeyExists(DevicePath(u"Gone\\Sub")));
    EXPECT_EQ(DeviceIds(), (Ids{u"Stays"}));
    DeleteDevice(u"Gone");  // a missing entry is no error
    EXPECT_EQ(DeviceIds(), (Ids{u"Stays"}));
}

TEST_F(DeviceListTest, DeleteReadsTheIdUpToItsFirstNulAndIgnoresCase) {
    Add(u"ab");
    Add(u"abc");
    DeleteDevice(u"AB\0c"s);
    EXPECT_EQ(DeviceIds(), (Ids{u"abc"}));
}

// An id that names no device would address the devices key itself; deleting
// that would remove every device, so nothing is deleted.
class DeleteNothingTest : public DeviceListTest, public ::testing::WithParamInterface<std::u16string> {};

TEST_P(DeleteNothingTest, KeepsEveryDevice) {
    Add(u"one");
    Add(u"two");
    Put(kDevices, u"onDevicesKey", REG_SZ, Utf16(u"kept", true));
    DeleteDevice(GetParam());
    EXPECT_EQ(DeviceIds(), (Ids{u"one", u"two"}));
    DWORD type = 0;
    Bytes data;
    EXPECT_TRUE(Get(kDevices, u"onDevicesKey", type, data));
}

INSTANTIATE_TEST_SUITE_P(Ids, DeleteNothingTest,
                         ::testing::Values(u""s, u"\0one"s, u"\\"s, u"\\\\\\"s, u"\\\0one"s));

TEST_F(DeviceListTest, NullIdDeletesNothing) {
    Add(u"one");
    ASSERT_EQ(statics()->DeleteDevice(nullptr), S_OK);
    EXPECT_EQ(DeviceIds(), (Ids{u"one"}));
}

}  // namespace
}  // namespace members_test
