// Helpers shared by the interface contracts: offsets of the procedure
// descriptions in a format table (FORMAT.md), computed when compiling.
#pragma once

#include <array>
#include <cstddef>

#include "platform/rpc.h"

namespace contracts {

// Offsets of the N procedure descriptions laid back to back in format.
// Each description is 5 header bytes plus 3 bytes per parameter.
template <size_t N, size_t Size>
constexpr std::array<unsigned short, N> ProcedureOffsets(const unsigned char (&format)[Size]) {
    std::array<unsigned short, N> offsets{};
    size_t at = 0;
    for (size_t k = 0; k < N; ++k) {
        offsets[k] = static_cast<unsigned short>(at);
        at += 5 + 3 * static_cast<size_t>(format[at + 4]);
    }
    return offsets;
}

}  // namespace contracts
