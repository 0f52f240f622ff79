// The brightness member.
#include "access_layer.h"
#include "platform/text.h"
#include "registry_members.h"
#include "settings_store.h"
#include "string_conversions.h"

namespace component::registry {

void SetBrightnessValue(HSTRING valueName, HSTRING value) {
    platform::UniqueHkey key = OpenKeyForWriting(BrightnessKeyPath);
    if (!key) return;
    const std::u16string name = ToWideText(valueName);
    const std::u16string text = ToWideText(value);
    // Decimal text as the C runtime reads it: white space, one sign, digits;
    // no digits give 0, a number outside 32 bits saturates.
    const auto number = static_cast<DWORD>(_wtol(text.c_str()));
    const BYTE data[4] = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                          static_cast<BYTE>(number >> 24)};
    // A refused write is not reported.
    RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, data, sizeof data);
}

}  // namespace component::registry
