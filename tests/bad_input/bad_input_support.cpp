#include "bad_input_support.h"

#include <gtest/gtest.h>

#include "support/hstring.h"

namespace bad_input {

std::u16string Letters(size_t count) {
    std::u16string text(count, u'a');
    for (size_t k = 0; k < count; ++k) text[k] = static_cast<char16_t>(u'a' + k % 26);
    return text;
}

platform::UniqueHString S(std::u16string_view text) { return morvala::test::MakeHString(text); }

void Put(std::u16string_view keyPath, std::u16string_view name, DWORD type, const Bytes& data) {
    std::u16string path(keyPath), value(name);
    platform::UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), value.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
}

bool Get(std::u16string_view keyPath, std::u16string_view name, DWORD& type, Bytes& data) {
    std::u16string path(keyPath), value(name);
    platform::UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    return RegQueryValueExW(key.get(), value.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

bool KeyExists(std::u16string_view keyPath) {
    std::u16string path(keyPath);
    platform::UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace bad_input
