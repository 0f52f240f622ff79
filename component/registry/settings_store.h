// The layout of the settings store: the fixed key paths under
// HKEY_LOCAL_MACHINE that RegistryManager's members read and write.
#pragma once

#include "platform/types.h"

namespace component::registry {

// One subkey per accessory device, named by the device id; ends in a backslash.
inline constexpr WCHAR DevicesKeyPath[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\Devices\\";
// Parent of the devices key, holding the accessories "Version"; ends in a backslash.
inline constexpr WCHAR AccessoriesKeyPath[] = u"Software\\OEM\\MORVALA\\MorvalaAccessories\\";
// Numeric brightness settings. "Morvala" names the same key as "MORVALA":
// key names compare without regard to case.
inline constexpr WCHAR BrightnessKeyPath[] = u"Software\\OEM\\Morvala\\BrightnessInterface";
// The connection service's settings, holding "DisconnectionLoggingNeeded".
inline constexpr WCHAR ConnectionServiceKeyPath[] = u"Software\\OEM\\MORVALA\\MorCgSvc";

inline constexpr WCHAR VersionValueName[] = u"Version";
inline constexpr WCHAR DisconnectionLoggingValueName[] = u"DisconnectionLoggingNeeded";

}  // namespace component::registry
