#include "members_fixture.h"

#include <string>

#include "support/hstring.h"

namespace members_test {

namespace abi = MorvalaFrameworkUiWinPRT;
using morvala::test::MakeHString;
using morvala::test::ToU16;

Bytes Dword(uint32_t number) {
    return {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
            static_cast<BYTE>(number >> 24)};
}

std::u16string Text(size_t count) {
    static constexpr char16_t kAlphabet[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
    std::u16string text;
    for (size_t i = 0; i < count; ++i) text.push_back(kAlphabet[i % (std::size(kAlphabet) - 1)]);
    return text;
}

void MembersTest::SetUp() {
    handlesAtStart_ = platform::RegistryOpenHandleCount();
    statics_ = morvala::test::GetFactory<abi::__IRegistryManagerStatics>(abi::RuntimeClass_RegistryManager);
    ASSERT_TRUE(statics_);
}

void MembersTest::TearDown() {
    EXPECT_EQ(platform::RegistryOpenHandleCount(), handlesAtStart_) << "key handles left open";
}

void MembersTest::Put(std::u16string_view keyPath, std::u16string_view name, DWORD type, const Bytes& data) {
    platform::UniqueHkey key;
    const std::u16string path(keyPath), valueName(name);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), valueName.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

bool MembersTest::Get(std::u16string_view keyPath, std::u16string_view name, DWORD& type, Bytes& data) {
    platform::UniqueHkey key;
    const std::u16string path(keyPath), valueName(name);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    if (RegQueryValueExW(key.get(), valueName.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return true;
}

bool MembersTest::KeyExists(std::u16string_view keyPath) {
    platform::UniqueHkey key;
    const std::u16string path(keyPath);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

namespace {

// Runs one member call and checks its status and that it closed every key it opened.
template <typename Call>
void Member(const char* name, Call call) {
    const uint32_t before = platform::RegistryOpenHandleCount();
    EXPECT_EQ(call(), S_OK) << name;
    EXPECT_EQ(platform::RegistryOpenHandleCount(), before) << name << " left a key handle open";
}

}  // namespace

Pairs MembersTest::DeviceValues(std::u16string_view deviceId) {
    platform::ComPtr<IMap_String_String> map;
    platform::UniqueHString id = MakeHString(deviceId);
    Member("GetDeviceValues", [&] { return statics_->GetDeviceValues(id.get(), map.put()); });
    EXPECT_TRUE(map) << "GetDeviceValues gave no map";
    return map ? MapContents(map.get()) : Pairs{};
}

void MembersTest::SetDeviceValue(std::u16string_view deviceId, std::u16string_view name, std::u16string_view value) {
    platform::UniqueHString id = MakeHString(deviceId), n = MakeHString(name), v = MakeHString(value);
    Member("SetDeviceValue", [&] { return statics_->SetDeviceValue(id.get(), n.get(), v.get()); });
}

void MembersTest::SetBrightness(std::u16string_view name, std::u16string_view value) {
    platform::UniqueHString n = MakeHString(name), v = MakeHString(value);
    Member("SetBrightnessValue", [&] { return statics_->SetBrightnessValue(n.get(), v.get()); });
}

std::vector<std::u16string> MembersTest::DeviceIds() {
    platform::ComPtr<IVector_String> vector;
    Member("GetDeviceIds", [&] { return statics_->GetDeviceIds(vector.put()); });
    EXPECT_TRUE(vector) << "GetDeviceIds gave no vector";
    return vector ? VectorContents(vector.get()) : std::vector<std::u16string>{};
}

Read MembersTest::RegistryValue(std::u16string_view keyPath, std::u16string_view name) {
    platform::UniqueHString path = MakeHString(keyPath), n = MakeHString(name);
    INT32 found = -1;
    platform::UniqueHString text;
    Member("GetRegistryValue", [&] { return statics_->GetRegistryValue(path.get(), n.get(), &found, text.put()); });
    return {found, ToU16(text.get())};
}

void MembersTest::DeleteDevice(std::u16string_view deviceId) {
    platform::UniqueHString id = MakeHString(deviceId);
    Member("DeleteDevice", [&] { return statics_->DeleteDevice(id.get()); });
}

void MembersTest::SetVersion(std::u16string_view version) {
    platform::UniqueHString v = MakeHString(version);
    Member("SetAccessoriesVersion", [&] { return statics_->SetAccessoriesVersion(v.get()); });
}

bool MembersTest::DeviceExists(std::u16string_view deviceId) {
    platform::UniqueHString id = MakeHString(deviceId);
    boolean result = 7;
    Member("DeviceExists", [&] { return statics_->DeviceExists(id.get(), &result); });
    EXPECT_TRUE(result == 0 || result == 1) << "DeviceExists gave " << int{result};
    return result == 1;
}

Pairs MapContents(IMap_String_String* map) {
    Pairs pairs;
    platform::ComPtr<IIterable_KeyValuePair_String_String> iterable;
    platform::ComPtr<IMap_String_String>::Copy(map).As(iterable);
    platform::ComPtr<IIterator_KeyValuePair_String_String> it;
    if (!iterable || iterable->First(it.put()) != S_OK) {
        ADD_FAILURE() << "the map cannot be iterated";
        return pairs;
    }
    boolean has = 0;
    for (it->get_HasCurrent(&has); has; it->MoveNext(&has)) {
        platform::ComPtr<IKeyValuePair_String_String> pair;
        EXPECT_EQ(it->get_Current(pair.put()), S_OK);
        platform::UniqueHString key, value;
        pair->get_Key(key.put());
        pair->get_Value(value.put());
        pairs.emplace_back(ToU16(key.get()), ToU16(value.get()));
    }
    return pairs;
}

std::vector<std::u16string> VectorContents(IVector_String* vector) {
    std::vector<std::u16string> items;
    UINT32 size = 0;
    EXPECT_EQ(vector->get_Size(&size), S_OK);
    for (UINT32 i = 0; i < size; ++i) {
        platform::UniqueHString item;
        EXPECT_EQ(vector->GetAt(i, item.put()), S_OK);
        items.push_back(ToU16(item.get()));
    }
    return items;
}

}  // namespace members_test
