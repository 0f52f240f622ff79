// Small String helpers for tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/winstring.h"

namespace morvala::test {

// A new String holding exactly `text` (NUL units kept); fails the test and
// gives the empty String when it cannot be made.
platform::UniqueHString MakeHString(std::u16string_view text);

// All units of a String (empty for null).
std::u16string ToU16(HSTRING string);

// The little-endian bytes of UTF-16 text, as a REG_SZ value holds them,
// with a terminating NUL when asked.
std::vector<BYTE> Utf16(std::u16string_view text, bool terminator);

// UTF-8 of a String for messages (units above 0x7F shown as \uXXXX).
std::string ToPrintable(HSTRING string);

}  // namespace morvala::test
