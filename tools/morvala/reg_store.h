// The .reg format's link to the device's registry, through the platform's
// Reg* functions directly: read a subtree for export, apply parsed changes.
#pragma once

#include <string>
#include <vector>

#include "reg_file.h"

namespace morvala::cli {

// The key at `path` (relative to HKEY_LOCAL_MACHINE; "" is the root) and
// every key below it, parents before children, subkeys in the store's
// order, values in their order with every byte. Throws CommandFailure
// (kExitFailed) when the key does not exist or a read fails.
std::vector<RegKeyEntry> ReadTree(const std::u16string& path);

// Applies the changes in order, in one pass. Returns the number applied.
// Throws CommandFailure (kExitFailed) at the first call that fails, saying
// which change (and line) failed and how many were applied before it; the
// store keeps those (it has no transaction across calls).
size_t ApplyChanges(const std::vector<RegChange>& changes);

// "KEYPATH" with an optional leading "HKEY_LOCAL_MACHINE\" (or "HKLM\")
// and trailing backslashes removed.
std::u16string NormalizeKeyPath(std::u16string path);

}  // namespace morvala::cli
