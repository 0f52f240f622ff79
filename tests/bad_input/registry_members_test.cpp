// RegistryManager's thirteen members with bad input through the ABI. Every
// test starts from a store holding two devices, a brightness value and the
// logging flag, and checks at its end that the devices and the brightness
// value are still there as they were and that no key handle was left open.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "MorvalaFrameworkUiWinPRT_delegates.h"
#include "bad_input_support.h"
#include "platform/collections.h"
#include "support/component_loader.h"

namespace {

using namespace bad_input;
using MorvalaFrameworkUiWinPRT::__IRegistryManagerStatics;
using morvala::test::ToU16;

const std::u16string kKeep = std::u16string(kDevices) + u"Keep";
const std::u16string kOther = std::u16string(kDevices) + u"Other";

class RegistryMembersBadInput : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        statics_ = morvala::test::GetFactory<__IRegistryManagerStatics>(MorvalaFrameworkUiWinPRT::RuntimeClass_RegistryManager);
        ASSERT_TRUE(statics_);
        Put(kKeep, u"Name", REG_SZ, Utf16(u"Value", true));
        Put(kOther, u"Name", REG_SZ, Utf16(u"Other", true));
        Put(kBrightness, u"Level", REG_DWORD, {5, 0, 0, 0});
        Put(kConnectionService, u"DisconnectionLoggingNeeded", REG_DWORD, {1, 0, 0, 0});
        ASSERT_EQ(MorvalaFrameworkUiWinPRT::MakeGPSLoggingSettingsCallback(
                      [this](bool value) { raised_.push_back(value); }, handler_.put()),
                  S_OK);
        handlesAtStart_ = platform::RegistryOpenHandleCount();
    }

    // Nothing lost: the devices a test did not mean to remove and the
    // brightness value are as they were; every key handle was closed.
    void TearDown() override {
        DWORD type = 0;
        Bytes data;
        EXPECT_TRUE(Get(kKeep, u"Name", type, data) && type == REG_SZ && data == Utf16(u"Value", true));
        if (!otherRemovedOnPurpose_) {
            EXPECT_TRUE(Get(kOther, u"Name", type, data) && data == Utf16(u"Other", true));
        }
        EXPECT_TRUE(Get(kBrightness, u"Level", type, data) && data == Bytes({5, 0, 0, 0}));
        EXPECT_EQ(platform::RegistryOpenHandleCount(), handlesAtStart_);
    }

    std::vector<std::u16string> DeviceIds() {
        platform::ComPtr<IVector_String> ids;
        EXPECT_EQ(statics_->GetDeviceIds(ids.put()), S_OK);
        std::vector<std::u16string> out;
        UINT32 size = 0;
        if (!ids || ids->get_Size(&size) != S_OK) return out;
        for (UINT32 k = 0; k < size; ++k) {
            platform::UniqueHString item;
            EXPECT_EQ(ids->GetAt(k, item.put()), S_OK);
            out.push_back(ToU16(item.get()));
        }
        return out;
    }

    // The map's size and the value under `name` ("<absent>" when missing).
    std::pair<UINT32, std::u16string> DeviceValue(HSTRING deviceId, std::u16string_view name) {
        platform::ComPtr<IMap_String_String> map;
        EXPECT_EQ(statics_->GetDeviceValues(deviceId, map.put()), S_OK);
        UINT32 size = 0;
        if (!map || map->get_Size(&size) != S_OK) return {0, u"<no map>"};
        platform::UniqueHString value;
        if (map->Lookup(S(name).get(), value.put()) != S_OK) return {size, u"<absent>"};
        return {size, ToU16(value.get())};
    }

    bool Exists(HSTRING deviceId) {
        boolean result = 2;
        EXPECT_EQ(statics_->DeviceExists(deviceId, &result), S_OK);
        return result == 1;
    }

    std::pair<INT32, std::u16string> RegistryValue(HSTRING path, HSTRING name) {
        INT32 found = 7;
        platform::UniqueHString result;
        EXPECT_EQ(statics_->GetRegistryValue(path, name, &found, result.put()), S_OK);
        return {found, ToU16(result.get())};
    }

    platform::ComPtr<__IRegistryManagerStatics> statics_;
    platform::ComPtr<MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback> handler_;
    std::vector<bool> raised_;
    uint32_t handlesAtStart_ = 0;
    bool otherRemovedOnPurpose_ = false;
};

TEST_F(RegistryMembersBadInput, NullOutParametersAnswerEPointerAndRunNothing) {
    auto& s = *statics_.get();
    EventRegistrationToken token{};
    ASSERT_EQ(s.add_GPSLoggingSettingsChanged(handler_.get(), &token), S_OK);
    DWORD type = 0;
    Bytes flag;
    RunAll({
        {"SetDisconnectionLoggingNeeded",
         [&] {
             EXPECT_EQ(s.SetDisconnectionLoggingNeeded(0, nullptr), E_POINTER);
             EXPECT_TRUE(Get(kConnectionService, u"DisconnectionLoggingNeeded", type, flag));
             EXPECT_EQ(flag, Bytes({1, 0, 0, 0})) << "the flag was written although the call was refused";
             EXPECT_TRUE(raised_.empty()) << "the event was raised although the call was refused";
         }},
        {"GetDeviceValues", [&] { EXPECT_EQ(s.GetDeviceValues(S(u"Keep").get(), nullptr), E_POINTER); }},
        {"GetDeviceIds", [&] { EXPECT_EQ(s.GetDeviceIds(nullptr), E_POINTER); }},
        {"GetRegistryValue, no found",
         [&] {
             HSTRING result = reinterpret_cast<HSTRING>(uintptr_t{0x10});
             EXPECT_EQ(s.GetRegistryValue(S(kKeep).get(), S(u"Name").get(), nullptr, &result), E_POINTER);
             EXPECT_EQ(result, nullptr) << "the other out-parameter keeps the caller's junk";
         }},
        {"GetRegistryValue, no result",
         [&] {
             INT32 found = 7;
             EXPECT_EQ(s.GetRegistryValue(S(kKeep).get(), S(u"Name").get(), &found, nullptr), E_POINTER);
             EXPECT_EQ(found, 0) << "the other out-parameter keeps the caller's junk";
         }},
        {"GetInstance", [&] { EXPECT_EQ(s.GetInstance(nullptr), E_POINTER); }},
        {"GetDisconnectionLoggingNeeded", [&] { EXPECT_EQ(s.GetDisconnectionLoggingNeeded(nullptr), E_POINTER); }},
        {"add_GPSLoggingSettingsChanged, no token",
         [&] {
             platform::ComPtr<MorvalaFrameworkUiWinPRT::GPSLoggingSettingsCallback> other;
             int calls = 0;
             ASSERT_EQ(MorvalaFrameworkUiWinPRT::MakeGPSLoggingSettingsCallback([&](bool) { ++calls; }, other.put()),
                       S_OK);
             EXPECT_EQ(s.add_GPSLoggingSettingsChanged(other.get(), nullptr), E_POINTER);
             boolean result = 0;
             EXPECT_EQ(s.SetDisconnectionLoggingNeeded(1, &result), S_OK);
             EXPECT_EQ(calls, 0) << "a refused registration was made anyway";
             EXPECT_EQ(raised_, std::vector<bool>({true}));
         }},
        {"DeviceExists", [&] { EXPECT_EQ(s.DeviceExists(S(u"Keep").get(), nullptr), E_POINTER); }},
    });
    EXPECT_EQ(s.remove_GPSLoggingSettingsChanged(token), S_OK);
}

TEST_F(RegistryMembersBadInput, AbsentStringsAreEmptyTexts) {
    auto& s = *statics_.get();
    DWORD type = 0;
    Bytes data;
    RunAll({
        {"GetDeviceValues: the devices key's own values, none",
         [&] { EXPECT_EQ(DeviceValue(nullptr, u"Name"), std::make_pair(UINT32{0}, std::u16string(u"<absent>"))); }},
        {"SetDeviceValue: the devices key's default value, no device lost",
         [&] {
             EXPECT_EQ(s.SetDeviceValue(nullptr, nullptr, nullptr), S_OK);
             EXPECT_TRUE(Get(kDevices, u"", type, data));
             EXPECT_EQ(type, REG_SZ);
             EXPECT_EQ(data, Bytes({0, 0}));
             EXPECT_EQ(DeviceIds(), std::vector<std::u16string>({u"Keep", u"Other"}));
         }},
        {"SetBrightnessValue: default value 0",
         [&] {
             EXPECT_EQ(s.SetBrightnessValue(nullptr, nullptr), S_OK);
             EXPECT_TRUE(Get(kBrightness, u"", type, data));
             EXPECT_EQ(type, REG_DWORD);
             EXPECT_EQ(data, Bytes({0, 0, 0, 0}));
         }},
        {"GetRegistryValue: the hive's default value, missing",
         [&] { EXPECT_EQ(RegistryValue(nullptr, nullptr), std::make_pair(INT32{0}, std::u16string(u"no key"))); }},
        {"DeleteDevice: nothing deleted",
         [&] {
             EXPECT_EQ(s.DeleteDevice(nullptr), S_OK);
             EXPECT_EQ(DeviceIds(), std::vector<std::u16string>({u"Keep", u"Other"}));
         }},
        {"SetAccessoriesVersion: an empty text",
         [&] {
             EXPECT_EQ(s.SetAccessoriesVersion(nullptr), S_OK);
             EXPECT_TRUE(Get(kAccessories, u"Version", type, data));
             EXPECT_EQ(type, REG_SZ);
             EXPECT_TRUE(data.empty());
         }},
        {"DeviceExists: false", [&] { EXPECT_FALSE(Exists(nullptr)); }},
    });
}

TEST_F(RegistryMembersBadInput, EmbeddedNulsEndNamesAndPathsButNotData) {
    auto& s = *statics_.get();
    DWORD type = 0;
    Bytes data;
    RunAll({
        {"SetDeviceValue",
         [&] {
             EXPECT_EQ(s.SetDeviceValue(S(std::u16string(u"New\0Junk", 8)).get(), S(std::u16string(u"na\0me", 5)).get(),
                                        S(std::u16string(u"te\0xt", 5)).get()), S_OK);
             EXPECT_FALSE(KeyExists(std::u16string(kDevices) + u"New\\Junk"));
             EXPECT_TRUE(Get(std::u16string(kDevices) + u"New", u"na", type, data));
             EXPECT_EQ(data, Utf16(std::u16string(u"te\0xt", 5), true)) << "the data keep every unit";
         }},
        {"GetDeviceValues", [&] { EXPECT_EQ(DeviceValue(S(std::u16string(u"Keep\0Junk", 9)).get(), u"Name").second, u"Value"); }},
        {"DeviceExists compares whole Strings", [&] { EXPECT_FALSE(Exists(S(std::u16string(u"Keep\0", 5)).get())); }},
        {"DeleteDevice of an id that starts with NUL deletes nothing",
         [&] {
             EXPECT_EQ(s.DeleteDevice(S(std::u16string(u"\0Keep", 5)).get()), S_OK);
             EXPECT_TRUE(KeyExists(kKeep));
         }},
        {"GetRegistryValue",
         [&] {
             EXPECT_EQ(RegistryValue(S(kKeep + std::u16string(u"\0Junk", 5)).get(), S(std::u16string(u"Name\0x", 6)).get()),
                       std::make_pair(INT32{1}, std::u16string(u"Value\0", 6)));
         }},
        {"SetBrightnessValue",
         [&] {
             EXPECT_EQ(s.SetBrightnessValue(S(std::u16string(u"Lev\0el", 6)).get(), S(std::u16string(u"4\0 2", 4)).get()), S_OK);
             EXPECT_TRUE(Get(kBrightness, u"Lev", type, data));
             EXPECT_EQ(data, Bytes({4, 0, 0, 0}));
         }},
        {"SetAccessoriesVersion keeps every unit",
         [&] {
             std::u16string version(u"1.0\0beta", 8);
             EXPECT_EQ(s.SetAccessoriesVersion(S(version).get()), S_OK);
             EXPECT_TRUE(Get(kAccessories, u"Version", type, data));
             EXPECT_EQ(data, Utf16(version, false));
         }},
    });
}

TEST_F(RegistryMembersBadInput, NamesAtAndPastTheLimits) {
    auto& s = *statics_.get();
    const std::u16string id254 = Letters(254), id255 = Letters(255), id256 = Letters(256);
    DWORD type = 0;
    Bytes data;
    RunAll({
        {"device ids of 254 and 255 units are stored; only 254 is listed",
         [&] {
             EXPECT_EQ(s.SetDeviceValue(S(id254).get(), S(u"n").get(), S(u"v").get()), S_OK);
             EXPECT_EQ(s.SetDeviceValue(S(id255).get(), S(u"n").get(), S(u"v").get()), S_OK);
             EXPECT_TRUE(KeyExists(std::u16string(kDevices) + id255));
             EXPECT_EQ(DeviceIds(), std::vector<std::u16string>({id254, u"Keep", u"Other"}));
             EXPECT_TRUE(Exists(S(id254).get()));
             EXPECT_FALSE(Exists(S(id255).get())) << "a name the list cannot hold is not listed";
             EXPECT_EQ(DeviceValue(S(id255).get(), u"n").second, u"v");
         }},
        {"a device id of 256 units is refused by the store: nothing written",
         [&] {
             EXPECT_EQ(s.SetDeviceValue(S(id256).get(), S(u"n").get(), S(u"v").get()), S_OK);
             EXPECT_FALSE(KeyExists(std::u16string(kDevices) + id256));
             EXPECT_EQ(s.DeleteDevice(S(id256).get()), S_OK);
         }},
        {"value names of 254, 255, 16,383 and 16,384 units",
         [&] {
             for (size_t length : {254u, 255u, 16383u, 16384u}) {
                 EXPECT_EQ(s.SetDeviceValue(S(u"Long").get(), S(Letters(length)).get(), S(u"v").get()), S_OK);
             }
             const std::u16string key = std::u16string(kDevices) + u"Long";
             EXPECT_TRUE(Get(key, Letters(16383), type, data));
             EXPECT_FALSE(Get(key, Letters(16384), type, data)) << "a name over the limit was stored";
             auto [size, value] = DeviceValue(S(u"Long").get(), Letters(254));
             EXPECT_EQ(size, 1u) << "names longer than 254 units are left out of the map";
             EXPECT_EQ(value, u"v");
             EXPECT_EQ(RegistryValue(S(key).get(), S(Letters(16384)).get()).first, 0);
         }},
        {"a value text of 16,384 units is stored whole, and too long for the readers",
         [&] {
             EXPECT_EQ(s.SetDeviceValue(S(u"Big").get(), S(u"t").get(), S(Letters(16384)).get()), S_OK);
             EXPECT_TRUE(Get(std::u16string(kDevices) + u"Big", u"t", type, data));
             EXPECT_EQ(data.size(), 2u * 16385);
             EXPECT_EQ(DeviceValue(S(u"Big").get(), u"t").second, u"<absent>");
             EXPECT_EQ(RegistryValue(S(std::u16string(kDevices) + u"Big").get(), S(u"t").get()).first, 0);
         }},
        {"brightness and version with 16,384 units",
         [&] {
             EXPECT_EQ(s.SetBrightnessValue(S(Letters(16384)).get(), S(u"1").get()), S_OK);
             EXPECT_FALSE(Get(kBrightness, Letters(16384), type, data));
             EXPECT_EQ(s.SetAccessoriesVersion(S(Letters(16384)).get()), S_OK);
             EXPECT_TRUE(Get(kAccessories, u"Version", type, data));
             EXPECT_EQ(data, Utf16(Letters(16384), false));
         }},
    });
}

TEST_F(RegistryMembersBadInput, LeadingDoubledAndTrailingBackslashes) {
    auto& s = *statics_.get();
    RunAll({
        {"GetRegistryValue: a leading backslash opens nothing",
         [&] { EXPECT_EQ(RegistryValue(S(u"\\" + kKeep).get(), S(u"Name").get()).first, 0); }},
        {"GetRegistryValue: doubled and trailing backslashes name the same key",
         [&] {
             std::u16string doubled = u"Software\\\\OEM\\MORVALA\\\\MorvalaAccessories\\Devices\\\\Keep\\\\\\";
             EXPECT_EQ(RegistryValue(S(doubled).get(), S(u"Name").get()),
                       std::make_pair(INT32{1}, std::u16string(u"Value\0", 6)));
         }},
        {"GetRegistryValue: only backslashes",
         [&] { EXPECT_EQ(RegistryValue(S(u"\\\\\\").get(), S(u"Name").get()).first, 0); }},
        {"DeleteDevice of backslashes only deletes nothing",
         [&] {
             for (const char16_t* id : {u"\\", u"\\\\", u"\\\\\\\\\\"}) EXPECT_EQ(s.DeleteDevice(S(id).get()), S_OK);
             EXPECT_EQ(DeviceIds(), std::vector<std::u16string>({u"Keep", u"Other"}));
         }},
        {"DeleteDevice with trailing backslashes deletes that device only",
         [&] {
             EXPECT_EQ(s.DeleteDevice(S(u"Other\\\\").get()), S_OK);
             otherRemovedOnPurpose_ = true;
             EXPECT_EQ(DeviceIds(), std::vector<std::u16string>({u"Keep"}));
         }},
        {"DeviceExists compares the text, not the key it names",
         [&] {
             EXPECT_FALSE(Exists(S(u"Keep\\").get()));
             EXPECT_FALSE(Exists(S(u"KEEP").get()));
         }},
        {"GetDeviceValues of a backslash: the devices key's own values",
         [&] { EXPECT_EQ(DeviceValue(S(u"\\").get(), u"Name").first, 0u); }},
    });
}

TEST_F(RegistryMembersBadInput, TokensNeverIssuedAndNonCanonicalBooleans) {
    auto& s = *statics_.get();
    EventRegistrationToken token{};
    ASSERT_EQ(s.add_GPSLoggingSettingsChanged(handler_.get(), &token), S_OK);
    boolean result = 0;
    RunAll({
        {"remove of tokens never issued changes nothing",
         [&] {
             for (int64_t value : {int64_t{0}, int64_t{1} << 40, int64_t{-1}, token.value + 1000}) {
                 EXPECT_EQ(s.remove_GPSLoggingSettingsChanged(EventRegistrationToken{value}), S_OK);
             }
             EXPECT_EQ(s.SetDisconnectionLoggingNeeded(0, &result), S_OK);
             EXPECT_EQ(raised_, std::vector<bool>({false}));
         }},
        {"a Boolean of 2 is true, stored as 1 and raised as true",
         [&] {
             EXPECT_EQ(s.SetDisconnectionLoggingNeeded(2, &result), S_OK);
             EXPECT_EQ(result, 1);
             DWORD type = 0;
             Bytes data;
             EXPECT_TRUE(Get(kConnectionService, u"DisconnectionLoggingNeeded", type, data));
             EXPECT_EQ(data, Bytes({1, 0, 0, 0}));
             EXPECT_EQ(raised_.back(), true);
             boolean needed = 2;
             EXPECT_EQ(s.GetDisconnectionLoggingNeeded(&needed), S_OK);
             EXPECT_EQ(needed, 1);
         }},
        {"a null handler answers E_INVALIDARG with token 0",
         [&] {
             EventRegistrationToken none{77};
             EXPECT_EQ(s.add_GPSLoggingSettingsChanged(nullptr, &none), E_INVALIDARG);
             EXPECT_EQ(none.value, 0);
         }},
        {"removing a token twice: the second changes nothing",
         [&] {
             EXPECT_EQ(s.remove_GPSLoggingSettingsChanged(token), S_OK);
             EXPECT_EQ(s.remove_GPSLoggingSettingsChanged(token), S_OK);
             size_t before = raised_.size();
             EXPECT_EQ(s.SetDisconnectionLoggingNeeded(1, &result), S_OK);
             EXPECT_EQ(raised_.size(), before);
         }},
    });
}

}  // namespace
