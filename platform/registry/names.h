// Key paths and value names as the registry functions receive them: UTF-16,
// read up to the first NUL, checked against the registry's limits.
#pragma once

#include <string_view>

#include "platform/types.h"

namespace platform::registry {

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

// Reads path (NULL is the empty path) up to its first NUL into out. Returns
// ERROR_SUCCESS; ERROR_BAD_PATHNAME when it starts with a backslash;
// ERROR_INVALID_PARAMETER when a component is longer than kMaxKeyNameChars.
LONG ReadKeyPath(const char16_t* path, std::u16string_view& out) noexcept;

// True when the path has no component (empty, or only separators after a
// valid start, which ReadKeyPath has already refused).
bool IsEmptyPath(std::u16string_view path) noexcept;

// Calls visit(component, isLast) for every non-empty component of a path that
// ReadKeyPath accepted: runs of backslashes separate, trailing ones are
// ignored. Stops at and returns the first non-zero result of visit.
template <class Visit>
LONG ForEachComponent(std::u16string_view path, Visit&& visit) {
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = path.size();
        size_t next = path.find_first_not_of(u'\\', end);
        bool last = next == std::u16string_view::npos;
        if (LONG rc = visit(path.substr(pos, end - pos), last)) return rc;
        if (last) break;
        pos = next;
    }
    return ERROR_SUCCESS;
}

// Reads a value name (NULL is the default value, the empty name) up to its
// first NUL. Returns false when it is longer than kMaxValueNameChars; the
// scan stops there, so an unterminated giant name is not read to its end.
bool ReadValueName(const char16_t* name, std::u16string_view& out) noexcept;

}  // namespace platform::registry
