// The contents of a string vector, shared by the vector and by the views and
// iterators taken from it; `version` rises at every change, and a view or
// iterator taken at another version answers E_CHANGED_STATE.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/winstring.h"
#include "strings.h"

namespace platform::collections {

struct VectorState {
    std::vector<UniqueHString> items;  // in the order they were placed
    uint64_t version = 0;

    UINT32 Size() const noexcept { return static_cast<UINT32>(items.size()); }

    // The first index whose string equals `value` unit for unit.
    bool IndexOf(HSTRING value, UINT32* index) const noexcept {
        auto found = std::find_if(items.begin(), items.end(),
                                  [&](const UniqueHString& item) { return OrdinalEqual(item.get(), value); });
        *index = found == items.end() ? 0 : static_cast<UINT32>(found - items.begin());
        return found != items.end();
    }

    // Up to `capacity` items from `start` on, each a new reference the caller
    // deletes; E_BOUNDS when start is past the end (start == size gives 0).
    HRESULT GetMany(UINT32 start, UINT32 capacity, HSTRING* out, UINT32* actual) const noexcept {
        if (start > Size()) return E_BOUNDS;
        UINT32 count = std::min(capacity, Size() - start);
        for (UINT32 i = 0; i < count; ++i) {
            HRESULT hr = WindowsDuplicateString(items[start + i].get(), &out[i]);
            if (FAILED(hr)) {
                while (i > 0) WindowsDeleteString(out[--i]);
                return hr;
            }
        }
        *actual = count;
        return S_OK;
    }
};

// What a view or iterator holds: the shared contents and their version then.
struct VectorSnapshot {
    std::shared_ptr<const VectorState> state;
    uint64_t version;

    bool Stale() const noexcept { return state->version != version; }
};

}  // namespace platform::collections
