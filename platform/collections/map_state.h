// The contents of a string map, shared by the map and by the views and
// iterators taken from it. Every change of the map raises `version`; a view
// or iterator remembers the version it was taken at and fails with
// E_CHANGED_STATE once the two differ.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/winstring.h"
#include "strings.h"

namespace platform::collections {

struct MapEntry {
    UniqueHString key;
    UniqueHString value;
};

struct MapState {
    std::vector<MapEntry> entries;  // keys ascending in ordinal order, each once
    uint64_t version = 0;

    // The index of the first entry in [first, last) whose key is not below `key`.
    size_t LowerBound(HSTRING key, size_t first, size_t last) const noexcept {
        auto begin = entries.begin() + static_cast<std::ptrdiff_t>(first);
        auto end = entries.begin() + static_cast<std::ptrdiff_t>(last);
        auto found = std::partition_point(begin, end, [&](const MapEntry& entry) {
            return OrdinalLess(entry.key.get(), key);
        });
        return static_cast<size_t>(found - entries.begin());
    }

    // The entry with `key` in [first, last), or null.
    const MapEntry* Find(HSTRING key, size_t first, size_t last) const noexcept {
        size_t index = LowerBound(key, first, last);
        if (index == last || !OrdinalEqual(entries[index].key.get(), key)) return nullptr;
        return &entries[index];
    }
};

// What a view or an iterator holds: the shared contents, the version it was
// taken at, and the range [first, last) of entries it covers.
struct MapRange {
    std::shared_ptr<const MapState> state;
    uint64_t version;
    size_t first;
    size_t last;

    bool Stale() const noexcept { return state->version != version; }
};

}  // namespace platform::collections
