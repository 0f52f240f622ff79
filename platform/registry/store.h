// One registry store: a SQLite database (WAL mode) holding the key tree and
// the values, reached through one connection per process with statements
// prepared once. FORMAT.md describes the file.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "function_ref.h"
#include "statement.h"

namespace platform::registry {

struct StoreConnection;
struct WalStamp;
struct CachedValue;
struct CachedSubkey;

// The id of the key HKEY_LOCAL_MACHINE names; it is never deleted.
constexpr int64_t kRootKeyId = 1;

// How long a call waits for another connection's write lock before it fails
// with ERROR_BUSY.
constexpr int kBusyTimeoutMs = 5000;

// Returned by Store::Open when the store does not exist and cannot be made
// here (the folder cannot be written): to this process it is an empty store
// that cannot be written.
constexpr LONG kStoreAbsent = -1;

// One value as stored; the pointers stay valid only during the callback that
// receives it. Names and data are bytes (SQLite gives no alignment).
struct ValueRow {
    const void* name;
    size_t nameBytes;
    DWORD type;
    const void* data;
    size_t dataBytes;
};

// Counts that RegQueryInfoKeyW reports.
struct KeyStats {
    int64_t subkeys;
    int64_t maxSubkeyChars;
    int64_t values;
    int64_t maxValueNameChars;
    int64_t maxDataBytes;
    int64_t written;  // FILETIME ticks
};

class Store {
public:
    // Opens the store file at path, creating and initialising it when new.
    // Success: ERROR_SUCCESS and the store in out. Failure: kStoreAbsent,
    // ERROR_BADDB (a damaged or foreign file, left untouched),
    // ERROR_ACCESS_DENIED (exists but unreadable), or another registry code.
    static LONG Open(const std::string& path, std::shared_ptr<Store>& out);

    // An empty store in memory that refuses every write: what a process sees
    // of a store it can neither find nor create.
    static std::shared_ptr<Store> EmptyReadOnly();

    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store();

    // True when this process may not write the store.
    bool ReadOnly() const noexcept { return readOnly_; }

    // True when path still names the file this store was opened from.
    bool StillAt(const std::string& path) const noexcept;

    // Runs body as one transaction under the store's lock: BEGIN IMMEDIATE
    // when write, else a read transaction. Commits when body returns
    // ERROR_SUCCESS, rolls back otherwise. Returns body's code, or the
    // store's error (ERROR_BUSY, ERROR_ACCESS_DENIED for a write to a
    // read-only store, ...). A read body may run first from the calling
    // thread's read cache alone, without the lock (read_cache.h), and runs
    // again in a read transaction when something it needs is not cached; it
    // must therefore change nothing outside itself before it succeeds.
    LONG Transact(bool write, FunctionRef<LONG()> body);

    // The operations below run only inside Transact's body. Each returns
    // ERROR_SUCCESS or a registry code; ERROR_KEY_DELETED when a key id given
    // no longer exists.

    // ERROR_SUCCESS when key exists, else ERROR_KEY_DELETED.
    LONG CheckKey(int64_t key);
    // Follows path (already checked by ReadKeyPath) down from key.
    // ERROR_FILE_NOT_FOUND when a component is missing.
    LONG Walk(int64_t key, std::u16string_view path, int64_t& found);
    // Like Walk, creating missing keys; created tells whether the last was made.
    LONG WalkCreate(int64_t key, std::u16string_view path, int64_t& found, bool& created);

    // Hands the named value to use; ERROR_FILE_NOT_FOUND when missing.
    LONG ReadValue(int64_t key, std::u16string_view name, FunctionRef<LONG(const ValueRow&)> use);
    // Hands the value at index (in first-set order) to use; ERROR_NO_MORE_ITEMS past the end.
    LONG ValueAt(int64_t key, DWORD index, FunctionRef<LONG(const ValueRow&)> use);
    // Stores a value, replacing one of that name in its place.
    LONG WriteValue(int64_t key, std::u16string_view name, DWORD type, const void* data, size_t size);
    // ERROR_FILE_NOT_FOUND when missing.
    LONG DeleteValue(int64_t key, std::u16string_view name);

    // Hands the name (UTF-16 bytes) and last write time of the subkey at index
    // (in folded-name order) to use; ERROR_NO_MORE_ITEMS past the end.
    LONG SubkeyAt(int64_t key, DWORD index, FunctionRef<LONG(const void* name, size_t bytes, int64_t written)> use);
    LONG Stats(int64_t key, KeyStats& stats);

    // Deletes key with everything below it, or only everything below it
    // (values included) when keepKey.
    LONG DeleteTree(int64_t key, bool keepKey);

    // Forces committed data to stable storage. Runs under the lock, outside a
    // transaction.
    LONG Sync();

private:
    explicit Store(std::string path);
    LONG Connect();
    LONG EnsureConnected();
    LONG TransactLocked(bool write, FunctionRef<LONG()> body);
    // The WAL-index header as it stands; false while it is being written, not
    // initialised, or the store has no WAL index this process can read.
    bool ReadStamp(WalStamp& out) const noexcept;
    void MapWalIndex();
    LONG FindChild(int64_t parent, std::u16string_view name, int64_t& child);
    // The key WalkCreate found last for (key, path) in a committed state, or
    // nullptr; see walkMemo_.
    int64_t* RememberedWalk(int64_t key, std::u16string_view path);
    void RememberWalk(int64_t found);
    LONG AddChild(int64_t parent, std::u16string_view name, int64_t& child);
    // Sets a key's last write time: Touch in the key's row (subkeys made or
    // deleted), TouchValues in its time row among its values (values set or
    // deleted), which shares a page with them (FORMAT.md).
    LONG Touch(int64_t key);
    LONG TouchValues(int64_t key);
    LONG ReadStats(int64_t key, KeyStats& stats);
    LONG CachedValues(int64_t key, const std::vector<CachedValue>*& list);
    LONG CachedSubkeys(int64_t key, const std::vector<CachedSubkey>*& list);

    std::string path_;
    std::mutex mutex_;
    std::unique_ptr<StoreConnection> connection_;
    unsigned forkGeneration_ = 0;
    bool readOnly_ = false;
    bool memory_ = false;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    int64_t now_ = 0;          // FILETIME of the running write transaction
    // A key the running transaction found or made, so known to exist until
    // it ends (0: none); spares WriteValue a second look-up of the key
    // WalkCreate has just resolved.
    int64_t liveKey_ = 0;
    // Key ids WalkCreate resolved, by starting key and path (used under
    // mutex_ only). An entry holds while its key exists: keys never move or
    // change name, a key is deleted only with everything below it, and ids
    // are never reused once committed, so an existing key proves every step
    // of the path to it. Only walks that found every key (none made, so all
    // committed) are remembered.
    std::unordered_map<std::string, int64_t> walkMemo_;
    std::string walkKey_;  // the entry RememberedWalk looked for
    // Names this store among the stores of the process, for the read caches.
    const uint64_t serial_;
    // The shared WAL-index of the connection (the -shm file's first region),
    // read without the lock to tell whether the read cache still holds.
    std::atomic<const uint32_t*> walIndex_{nullptr};
};

// Increases in a child after fork(); a store whose connection was made before
// the fork makes a new one instead of using the inherited one.
unsigned ForkGeneration() noexcept;

}  // namespace platform::registry
