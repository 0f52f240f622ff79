#include "support/hstring.h"

#include <cstdio>

#include <gtest/gtest.h>

namespace morvala::test {

platform::UniqueHString MakeHString(std::u16string_view text) {
    platform::UniqueHString string;
    HRESULT hr = WindowsCreateString(text.data(), static_cast<UINT32>(text.size()), string.put());
    EXPECT_EQ(hr, S_OK) << "WindowsCreateString";
    return string;
}

std::u16string ToU16(HSTRING string) {
    UINT32 length = 0;
    const WCHAR* units = WindowsGetStringRawBuffer(string, &length);
    return std::u16string(units, length);
}

std::string ToPrintable(HSTRING string) {
    std::string out;
    for (char16_t unit : ToU16(string)) {
        if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
            out += escape;
        }
    }
    return out;
}

std::vector<BYTE> Utf16(std::u16string_view text, bool terminator) {
    std::vector<BYTE> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    if (terminator) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

}  // namespace morvala::test
