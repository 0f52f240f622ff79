// Text conversions of the command-line host: UTF-8 (arguments, files,
// terminal) to and from UTF-16 (the platform's strings).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morvala::cli {

// The UTF-16 form of well-formed UTF-8 text; nullopt when `text` is not
// well-formed UTF-8 (bad sequence, overlong form, surrogate code point).
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// The UTF-8 form of UTF-16 units; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-8 for a terminal: like Utf16ToUtf8, but NUL, other control units and
// lone surrogates are shown as \uXXXX so that nothing is hidden.
std::string Printable(std::u16string_view units);

// Text given as UTF-8 that the caller knows is well-formed (literals).
std::u16string U16(std::string_view ascii);

// Whether units[i] starts a valid surrogate pair.
bool IsSurrogatePair(std::u16string_view units, size_t i);

}  // namespace morvala::cli
