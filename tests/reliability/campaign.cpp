#include "campaign.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace reliability {

bool LongMode() {
    const char* value = std::getenv("MORVALA_LONG");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

int Scaled(int ci, int longRun) { return LongMode() ? longRun : ci; }

std::chrono::seconds ScaledSeconds(int ci, int longRun) { return std::chrono::seconds(Scaled(ci, longRun)); }

std::string IntegrityCheck(const std::string& path) {
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    // The default VFS by name: a test may have put a fault-injecting one first.
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, "unix") == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK) {
            result.clear();
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                if (!result.empty()) result += "; ";
                result += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            }
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

namespace {

int CountEntries(const std::string& folder) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) ++count;
    return error ? -1 : count;
}

}  // namespace

int OpenFdCount() { return CountEntries("/proc/self/fd"); }

int OpenFdCount(int pid) { return CountEntries("/proc/" + std::to_string(pid) + "/fd"); }

void Print(const Summary& s) {
    std::printf("campaign %s: rounds=%llu faults=%llu lost=%llu crashes=%llu%s%s\n", s.name.c_str(),
                static_cast<unsigned long long>(s.rounds), static_cast<unsigned long long>(s.faults),
                static_cast<unsigned long long>(s.lost), static_cast<unsigned long long>(s.crashes),
                s.detail.empty() ? "" : " ", s.detail.c_str());
    std::fflush(stdout);
}

}  // namespace reliability
