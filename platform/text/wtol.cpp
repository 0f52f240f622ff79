#include <cstdint>

#include "platform/text.h"

namespace {

bool IsSpace(WCHAR unit) { return unit == u' ' || (unit >= u'\t' && unit <= u'\r'); }
bool IsDigit(WCHAR unit) { return unit >= u'0' && unit <= u'9'; }

}  // namespace

extern "C" LONG _wtol(const WCHAR* text) {
    if (text == nullptr) return 0;
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
    // Accumulate in 64 bits and stop growing once past the range, so that a
    // long run of digits cannot overflow the accumulator.
    constexpr int64_t kLimit = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t magnitude = 0;
    for (; IsDigit(*text); ++text) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (*text - u'0');
    }
    if (negative) return magnitude >= kLimit ? INT32_MIN : static_cast<LONG>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<LONG>(magnitude);
}
