// An application's day with its accessories: pair three devices, list them,
// read one, update one, unpair one, list again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "members_fixture.h"

namespace members_test {
namespace {

using Ids = std::vector<std::u16string>;

TEST_F(MembersTest, AccessoriesThroughADay) {
    const struct {
        const char16_t* id;
        const char16_t* name;
        const char16_t* address;
    } devices[] = {{u"Watch-01", u"Wrist watch", u"00:11:22:33:44:55"},
                   {u"Band-7", u"Fitness band", u"66:77:88:99:AA:BB"},
                   {u"Car", u"Car kit", u"CC:DD:EE:FF:00:11"}};

    // Morning: nothing paired yet.
    EXPECT_EQ(DeviceIds(), Ids{});
    SetVersion(u"3.1");
    for (const auto& d : devices) {
        SetDeviceValue(d.id, u"Name", d.name);
        SetDeviceValue(d.id, u"Address", d.address);
    }
    EXPECT_EQ(DeviceIds(), (Ids{u"Band-7", u"Car", u"Watch-01"}));
    for (const auto& d : devices) {
        EXPECT_TRUE(DeviceExists(d.id));
        EXPECT_EQ(DeviceValues(d.id), (Pairs{{u"Address", d.address}, {u"Name", d.name}}));
    }

    // The service counts connections in a number of its own.
    Put(std::u16string(kDevices) + u"Car", u"Connections", REG_DWORD, Dword(3));
    EXPECT_EQ(DeviceValues(u"Car"),
              (Pairs{{u"Address", u"CC:DD:EE:FF:00:11"}, {u"Connections", u"3"}, {u"Name", u"Car kit"}}));

    // Noon: the user renames the band; the brightness is turned down.
    SetDeviceValue(u"Band-7", u"Name", u"Running band");
    EXPECT_EQ(DeviceValues(u"Band-7"), (Pairs{{u"Address", u"66:77:88:99:AA:BB"}, {u"Name", u"Running band"}}));
    SetBrightness(u"Level", u"40");
    EXPECT_EQ(RegistryValue(kBrightness, u"Level"), (Read{1, std::u16string{u'\x0028', u'\0'}}));

    // Evening: the car kit is unpaired.
    DeleteDevice(u"Car");
    EXPECT_EQ(DeviceIds(), (Ids{u"Band-7", u"Watch-01"}));
    EXPECT_FALSE(DeviceExists(u"Car"));
    EXPECT_EQ(DeviceValues(u"Car"), Pairs{});
    EXPECT_EQ(RegistryValue(std::u16string(kDevices) + u"Watch-01", u"Name"),
              (Read{1, std::u16string(u"Wrist watch") + u'\0'}));
    EXPECT_EQ(RegistryValue(kAccessories, u"Version"), (Read{1, u"3.1"}));
}

}  // namespace
}  // namespace members_test
