#include "names.h"

namespace platform::registry {

namespace {

// Length of text up to its first NUL, scanning at most limit + 1 units.
size_t BoundedLength(const char16_t* text, size_t limit) noexcept {
    size_t length = 0;
    while (length <= limit && text[length] != u'\0') ++length;
    return length;
}

}  // namespace

LONG ReadKeyPath(const char16_t* path, std::u16string_view& out) noexcept {
    out = path != nullptr ? std::u16string_view(path) : std::u16string_view();
    if (!out.empty() && out.front() == u'\\') return ERROR_BAD_PATHNAME;
    return ForEachComponent(out, [](std::u16string_view component, bool) -> LONG {
        return component.size() > kMaxKeyNameChars ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    });
}

bool IsEmptyPath(std::u16string_view path) noexcept {
    return path.find_first_not_of(u'\\') == std::u16string_view::npos;
}

bool ReadValueName(const char16_t* name, std::u16string_view& out) noexcept {
    if (name == nullptr) {
        out = {};
        return true;
    }
    size_t length = BoundedLength(name, kMaxValueNameChars);
    out = std::u16string_view(name, length);
    return length <= kMaxValueNameChars;
}

}  // namespace platform::registry
