// A SQLite VFS that forwards to the "unix" VFS and can fail the Nth write,
// sync or truncate of any file it opened, once or from then on. Registered as
// the process's default VFS, so the registry store (which opens its database
// with the default VFS) goes through it without knowing.
#pragma once

#include <cstdint>

namespace reliability {

enum class FaultKind { Write, Sync, Truncate };
enum class FaultMode { Once, Persistent };

struct FaultCounts {
    uint64_t writes = 0;
    uint64_t syncs = 0;
    uint64_t truncates = 0;
    uint64_t total() const { return writes + syncs + truncates; }
};

class FaultVfs {
public:
    // Registers the shim as the default VFS (once per process). Returns false
    // when SQLite refuses it.
    static bool Install();

    // From now on, the `n`th (1-based) operation of `kind` fails with its
    // I/O error code; with Persistent, every later one of that kind too.
    static void Arm(FaultKind kind, uint64_t n, FaultMode mode);
    // No failures; counters start again from zero.
    static void Disarm();
    // Operations seen since the last Arm or Disarm.
    static FaultCounts Seen();
    // Failures injected since the last Arm.
    static uint64_t Injected();
};

}  // namespace reliability
