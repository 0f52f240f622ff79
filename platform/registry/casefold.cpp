#include "casefold.h"

#include <unicode/uchar.h>

namespace platform::registry {

char16_t FoldUnit(char16_t unit) noexcept {
    if (unit < 0x80) return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit;
    if (unit >= 0xD800 && unit <= 0xDFFF) return unit;
    UChar32 upper = u_toupper(static_cast<UChar32>(unit));
    return upper >= 0 && upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

void FoldName(std::u16string_view name, std::string& out) {
    out.resize(name.size() * 2);
    char* bytes = out.data();
    for (char16_t unit : name) {
        char16_t folded = FoldUnit(unit);
        *bytes++ = static_cast<char>(folded >> 8);
        *bytes++ = static_cast<char>(folded & 0xFF);
    }
}

}  // namespace platform::registry
