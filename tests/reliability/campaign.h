// Shared by the reliability campaigns: how big a run is (a short run for CI,
// a long one with MORVALA_LONG=1), the store's integrity check, descriptor
// counts, and the one summary line each campaign prints, which
// docs/RELIABILITY.md quotes.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace reliability {

// True when MORVALA_LONG is set to anything but "" or "0".
bool LongMode();

// `ci` in a CI run, `longRun` in long mode.
int Scaled(int ci, int longRun);
std::chrono::seconds ScaledSeconds(int ci, int longRun);

// SQLite's PRAGMA integrity_check of the database at path, read through a
// read-only connection of its own: "ok" when sound, else SQLite's findings
// (or "cannot open").
std::string IntegrityCheck(const std::string& path);

// Descriptors open in this process / in process pid (-1 when unreadable).
int OpenFdCount();
int OpenFdCount(int pid);

// What a campaign did, printed as one line starting with "campaign".
struct Summary {
    std::string name;
    uint64_t rounds = 0;   // rounds or executions
    uint64_t faults = 0;   // faults injected
    uint64_t lost = 0;     // acknowledged data missing or torn afterwards
    uint64_t crashes = 0;  // processes that ended other than as the test ended them
    std::string detail;    // free text: what else was counted
};
void Print(const Summary& summary);

}  // namespace reliability
