// Helpers of the bad-input tests: texts of a given length, Strings with NUL
// units, and direct reads and writes of the store that bypass the component.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/winstring.h"
#include "support/hstring.h"

namespace bad_input {

using Bytes = std::vector<BYTE>;

inline constexpr char16_t kDevices[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
inline constexpr char16_t kAccessories[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\";
inline constexpr char16_t kBrightness[] = u"Software\\OEM\\Morvala\\BrightnessInterface";
inline constexpr char16_t kConnectionService[] = u"Software\\OEM\\MORVALA\\MorCgSvc";

// `count` units cycling through letters (no NUL, no backslash).
std::u16string Letters(size_t count);

// A String of exactly `text` (NUL units kept); a null handle for empty text.
platform::UniqueHString S(std::u16string_view text);

// Stores a value directly, creating the key; fails the test on error.
void Put(std::u16string_view keyPath, std::u16string_view name, DWORD type, const Bytes& data);
// Reads a value directly; false when the key or value is missing.
bool Get(std::u16string_view keyPath, std::u16string_view name, DWORD& type, Bytes& data);
bool KeyExists(std::u16string_view keyPath);
using morvala::test::Utf16;

// One named case of a table; RunAll runs each under its name.
struct Case {
    const char* name;
    std::function<void()> run;
};

inline void RunAll(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.run();
    }
}

}  // namespace bad_input
