// Texts as the services send them: converted between the command line's
// UTF-8, UTF-16 and the system's ANSI code page.
#pragma once

#include <string>
#include <string_view>

namespace morvala::services {

// UTF-8 (as given on a command line) to UTF-16; invalid sequences become
// U+FFFD. Never fails.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8, for logs and tests; never fails.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-16 to the bytes of the system's ANSI code page (GetACP of the current
// device root). Characters the code page lacks become its substitution
// character. Returns the bytes, without a terminating NUL; an empty string if
// the code page has no converter.
std::string EncodeAnsi(std::u16string_view text);

}  // namespace morvala::services
