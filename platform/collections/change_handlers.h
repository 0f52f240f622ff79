// The handler list of one collection's change event. Like the collection it
// belongs to it takes no lock: the collection is used from one thread at a
// time. A raise walks a copy of the list, so handlers may add or remove
// handlers (their own too) or change the collection while it runs; such
// changes take effect from the next raise.
#pragma once

#include <algorithm>
#include <vector>

#include "platform/comptr.h"

namespace platform::collections {

template <typename Handler, typename Sender, typename Args>
class ChangeHandlers {
public:
    // Stores a counted reference to `handler` and gives its token (a number
    // from 1 upward, never reused by this list). E_INVALIDARG with token 0
    // for a null handler; E_POINTER for a null token. Throws bad_alloc.
    HRESULT Add(Handler* handler, EventRegistrationToken* token) {
        if (token == nullptr) return E_POINTER;
        token->value = 0;
        if (handler == nullptr) return E_INVALIDARG;
        entries_.push_back(Entry{next_, ComPtr<Handler>::Copy(handler)});
        token->value = next_++;
        return S_OK;
    }

    // Takes out the registration of `token`; S_OK whether it was there or not.
    HRESULT Remove(EventRegistrationToken token) noexcept {
        auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& entry) { return entry.token == token.value; });
        if (found != entries_.end()) entries_.erase(found);
        return S_OK;
    }

    bool Empty() const noexcept { return entries_.empty(); }

    // Calls every handler registered now, in the order they were added, and
    // stops at the first that fails, giving its status. Throws bad_alloc.
    HRESULT Raise(Sender* sender, Args* args) {
        std::vector<Entry> snapshot = entries_;
        for (const Entry& entry : snapshot) {
            HRESULT hr = entry.handler->Invoke(sender, args);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

private:
    struct Entry {
        int64_t token;
        ComPtr<Handler> handler;
    };

    std::vector<Entry> entries_;
    int64_t next_ = 1;
};

}  // namespace platform::collections
