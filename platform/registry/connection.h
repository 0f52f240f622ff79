// The SQLite connection of one store with every statement the registry runs,
// prepared once when the connection is made. The schema is in FORMAT.md.
#pragma once

#include <sqlite3.h>

#include "statement.h"

namespace platform::registry {

// 'MRG1': marks a database file as a registry store.
constexpr int32_t kApplicationId = 0x4D524731;
// The layout this build writes, and the oldest it still reads (a writable
// store of an older layout is upgraded when opened).
constexpr int32_t kSchemaVersion = 2;
constexpr int32_t kOldestSchemaVersion = 1;

struct StoreConnection {
    sqlite3* db = nullptr;

    Statement beginRead;
    Statement beginWrite;
    Statement commit;
    Statement rollback;

    Statement keyRow;          // written, parent of a key
    Statement findChild;       // id of a subkey by folded name
    Statement addChild;
    Statement touch;           // sets the time in a key's row
    Statement subkeyAt;        // name, last write time of the n-th subkey in folded order
    Statement subkeyStats;     // count, longest name in bytes
    Statement subkeysOfKey;    // name, last write time of every subkey in folded order

    Statement getValue;        // name, type, data by folded name
    Statement setValue;
    Statement touchValues;     // sets the time in a key's time row
    Statement addTimeRow;
    Statement deleteValue;
    Statement valueAt;         // name, type, data of the n-th value in first-set order
    Statement valuesOfKey;     // name, type, data of every value in first-set order
    Statement valueStats;      // count, longest name in bytes, largest data, time row's time

    Statement deleteTreeValues;  // values of a key and of everything below it
    Statement deleteTreeKeys;    // a key (unless it is ?2) and everything below it

    StoreConnection() = default;
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;
    // close_v2 lets the statements, finalised after this body, end the connection.
    ~StoreConnection() { sqlite3_close_v2(db); }

    // Prepares every statement. Returns a SQLite result code.
    int PrepareAll() noexcept;
};

// The statements that create an empty store; the caller binds nothing and
// runs them inside a write transaction. The root key's time is filled in by
// the caller (one %lld).
extern const char kCreateSchemaSql[];

}  // namespace platform::registry
