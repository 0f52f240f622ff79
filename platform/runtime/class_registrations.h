// The registration table of the loader: which library serves which runtime
// class, from programmatic registrations and the manifest file.
#pragma once

#include <optional>
#include <string>

#include "platform/types.h"

namespace platform::loader {

// The library path registered for className (UTF-8): the programmatic
// registration if any, else the first matching manifest line, else nothing.
// Throws std::bad_alloc when memory is exhausted.
std::optional<std::string> FindServingLibrary(const std::string& className);

// The UTF-8 form of a class name given as UTF-16 units; nothing when the
// units are not valid UTF-16 or hold a NUL.
std::optional<std::string> ClassNameToUtf8(const WCHAR* units, UINT32 length);

}  // namespace platform::loader
