// A per-thread cache of what a store's read calls found (key ids by name,
// key existence, values, value and subkey lists, key counts), valid while the
// store's WAL-index header is unchanged.
//
// Every commit to a WAL database, by any connection of any process, rewrites
// the WAL-index header in the shared -shm file (frame count, salts and
// checksums, a change counter); the header changes exactly when the database
// content may have. A thread that finds the header equal to the one its cache
// was filled under answers from the cache without a transaction; otherwise it
// empties the cache. The header is taken before the transaction that fills
// the cache starts, so cached data is never older than the header it is kept
// under. A call either answers wholly from the cache or, at the first thing
// missing, starts again in one real read transaction that fills the cache, so
// no answer mixes two states of the store.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/types.h"
#include "store.h"

namespace platform::registry {

// Returned by a store operation that runs from the cache alone and did not
// find what it needs; the call then runs again in a read transaction. Never
// leaves the store.
constexpr LONG kCacheMiss = -2;

// The first copy of the WAL-index header (48 bytes).
struct WalStamp {
    uint32_t words[12];
    bool operator==(const WalStamp&) const = default;
};

// One value as cached: the same fields as ValueRow, owned.
struct CachedValue {
    std::string name;
    DWORD type = 0;
    std::string data;
    ValueRow Row() const noexcept { return ValueRow{name.data(), name.size(), type, data.data(), data.size()}; }
};

struct CachedSubkey {
    std::string name;
    int64_t written = 0;
};

class ReadCache {
public:
    // Empties the cache unless it was filled under stamp; it is then kept under stamp.
    void Sync(const WalStamp& stamp);
    void Clear();

    // Lookups: nullptr (or nullopt) when not cached.
    const int64_t* Child(int64_t parent, const std::string& folded);  // -1: no such subkey
    std::optional<bool> KeyExists(int64_t key) const;
    const std::optional<CachedValue>* Value(int64_t key, const std::string& folded);  // nullopt inside: missing
    const std::vector<CachedValue>* Values(int64_t key) const;
    const std::vector<CachedSubkey>* Subkeys(int64_t key) const;
    const KeyStats* Stats(int64_t key) const;

    // Fills, each bounded: past kMaxEntries entries the cache starts empty again.
    void PutChild(int64_t parent, const std::string& folded, int64_t child);
    void PutKeyExists(int64_t key, bool exists);
    void PutValue(int64_t key, const std::string& folded, std::optional<CachedValue> value);
    const std::vector<CachedValue>& PutValues(int64_t key, std::vector<CachedValue> list);
    const std::vector<CachedSubkey>& PutSubkeys(int64_t key, std::vector<CachedSubkey> list);
    void PutStats(int64_t key, const KeyStats& stats);

private:
    static constexpr size_t kMaxEntries = 16384;
    // Names are looked up by the key id's 8 bytes followed by the folded name.
    const std::string& Compose(int64_t id, const std::string& folded);
    void Admit(size_t entries);

    bool valid_ = false;
    WalStamp stamp_{};
    size_t entries_ = 0;
    std::string composed_;
    std::unordered_map<std::string, int64_t> children_;
    std::unordered_map<int64_t, bool> keys_;
    std::unordered_map<std::string, std::optional<CachedValue>> values_;
    std::unordered_map<int64_t, std::vector<CachedValue>> valueLists_;
    std::unordered_map<int64_t, std::vector<CachedSubkey>> subkeyLists_;
    std::unordered_map<int64_t, KeyStats> stats_;
};

// The calling thread's cache for the store with serial number `store`; the
// thread keeps caches for a few stores and drops them all past that.
ReadCache& ThreadReadCache(uint64_t store);

// How the store operations on this thread use the cache during a call: not
// at all (write transactions, stores without a WAL index), answering from it
// alone, or filling it from a read transaction.
struct ReadMode {
    ReadCache* cache = nullptr;
    bool cacheOnly = false;
};
ReadMode& ThreadReadMode() noexcept;

}  // namespace platform::registry
