// Case folding of key and value names: each UTF-16 unit is upper-cased on its
// own, with no locale, so that two names are equal exactly when their folded
// forms are equal unit for unit.
#pragma once

#include <string>
#include <string_view>

namespace platform::registry {

// The simple upper-case mapping of one UTF-16 unit. ASCII is mapped inline;
// other units through ICU's simple (one-to-one) mapping. A unit whose mapping
// lies outside the Basic Multilingual Plane, and every surrogate, maps to
// itself.
char16_t FoldUnit(char16_t unit) noexcept;

// Replaces out with the folded form of name as big-endian UTF-16 bytes, so that
// comparing two folded forms bytewise (shorter first on a common prefix) orders
// them by upper-cased units. Reuses out's storage.
void FoldName(std::u16string_view name, std::string& out);

}  // namespace platform::registry
