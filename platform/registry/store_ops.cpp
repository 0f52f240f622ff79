// Store operations on keys and values, run inside Store::Transact.
#include <algorithm>
#include <bit>

#include "casefold.h"
#include "connection.h"
#include "names.h"
#include "read_cache.h"
#include "store.h"

namespace platform::registry {

// Names are stored as UTF-16 in the machine's order; FORMAT.md promises
// little-endian.
static_assert(std::endian::native == std::endian::little, "the store keeps names as little-endian UTF-16");

namespace {

// Maps the result of a statement that returns at most one row.
LONG RowOr(int rc, LONG whenDone) noexcept {
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    if (rc == SQLITE_DONE) return whenDone;
    return ErrorFromSqlite(rc);
}

ValueRow RowOf(const Query& query) noexcept {
    return ValueRow{query.BlobData(0), query.BlobSize(0), static_cast<DWORD>(query.Int(1)), query.BlobData(2),
                    query.BlobSize(2)};
}

// The calling thread's scratch for folded names (operations may run from the
// read cache without the store's lock).
std::string& Folded() {
    thread_local std::string folded;
    return folded;
}

std::string Bytes(const void* data, size_t size) {
    return size != 0 ? std::string(static_cast<const char*>(data), size) : std::string();
}

CachedValue Owned(const ValueRow& row) { return CachedValue{Bytes(row.name, row.nameBytes), row.type, Bytes(row.data, row.dataBytes)}; }

}  // namespace

LONG Store::CheckKey(int64_t key) {
    ReadMode& mode = ThreadReadMode();
    if (mode.cacheOnly) {
        std::optional<bool> exists = mode.cache->KeyExists(key);
        if (!exists) return kCacheMiss;
        return *exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
    }
    if (key == liveKey_) return ERROR_SUCCESS;
    Query query(connection_->keyRow);
    LONG status = RowOr(query.Bind(1, key).Step(), ERROR_KEY_DELETED);
    if (mode.cache != nullptr && (status == ERROR_SUCCESS || status == ERROR_KEY_DELETED))
        mode.cache->PutKeyExists(key, status == ERROR_SUCCESS);
    return status;
}

LONG Store::FindChild(int64_t parent, std::u16string_view name, int64_t& child) {
    std::string& folded = Folded();
    FoldName(name, folded);
    ReadMode& mode = ThreadReadMode();
    if (mode.cacheOnly) {
        const int64_t* cached = mode.cache->Child(parent, folded);
        if (cached == nullptr) return kCacheMiss;
        if (*cached < 0) return ERROR_FILE_NOT_FOUND;
        child = *cached;
        return ERROR_SUCCESS;
    }
    Query query(connection_->findChild);
    LONG status = RowOr(query.Bind(1, parent).Bind(2, folded).Step(), ERROR_FILE_NOT_FOUND);
    if (status == ERROR_SUCCESS) child = query.Int(0);
    if (mode.cache != nullptr && (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND))
        mode.cache->PutChild(parent, folded, status == ERROR_SUCCESS ? child : -1);
    return status;
}

LONG Store::AddChild(int64_t parent, std::u16string_view name, int64_t& child) {
    std::string& folded = Folded();
    FoldName(name, folded);
    {
        Query query(connection_->addChild);
        int rc = query.Bind(1, parent).Bind(2, name).Bind(3, folded).Bind(4, now_).Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    child = sqlite3_last_insert_rowid(connection_->db);
    return Touch(parent);
}

LONG Store::Touch(int64_t key) {
    Query query(connection_->touch);
    int rc = query.Bind(1, key).Bind(2, now_).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

LONG Store::TouchValues(int64_t key) {
    {
        Query query(connection_->touchValues);
        if (int rc = query.Bind(1, key).Bind(2, now_).Step(); rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    if (sqlite3_changes(connection_->db) != 0) return ERROR_SUCCESS;
    Query query(connection_->addTimeRow);
    int rc = query.Bind(1, key).Bind(2, now_).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : ErrorFromSqlite(rc);
}

LONG Store::Walk(int64_t key, std::u16string_view path, int64_t& found) {
    int64_t current = key;
    LONG status = ForEachComponent(path, [&](std::u16string_view component, bool) -> LONG {
        return FindChild(current, component, current);
    });
    // A missing first component may mean the starting key itself is gone.
    if ((status == ERROR_FILE_NOT_FOUND && current == key) || (status == ERROR_SUCCESS && IsEmptyPath(path))) {
        if (LONG check = CheckKey(key)) return check;
    }
    if (status == ERROR_SUCCESS) found = current;
    return status;
}

int64_t* Store::RememberedWalk(int64_t key, std::u16string_view path) {
    // The starting key's id, then the path as given: each spelling of a path
    // is remembered on its own, which spares folding it.
    walkKey_.assign(reinterpret_cast<const char*>(&key), sizeof key);
    walkKey_.append(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(char16_t));
    auto found = walkMemo_.find(walkKey_);
    return found != walkMemo_.end() ? &found->second : nullptr;
}

void Store::RememberWalk(int64_t found) {
    constexpr size_t kMaxRememberedWalks = 1024;
    if (walkMemo_.size() >= kMaxRememberedWalks) walkMemo_.clear();
    walkMemo_[walkKey_] = found;
}

LONG Store::WalkCreate(int64_t key, std::u16string_view path, int64_t& found, bool& created) {
    created = false;
    const bool memo = !IsEmptyPath(path);
    if (memo) {
        if (int64_t* remembered = RememberedWalk(key, path)) {
            LONG check = CheckKey(*remembered);
            if (check != ERROR_KEY_DELETED) {
                if (check == ERROR_SUCCESS) found = liveKey_ = *remembered;
                return check;
            }
            walkMemo_.erase(walkKey_);
        }
    }
    if (LONG check = CheckKey(key)) return check;
    int64_t current = key;
    LONG status = ForEachComponent(path, [&](std::u16string_view component, bool) -> LONG {
        if (!created) {
            LONG find = FindChild(current, component, current);
            if (find != ERROR_FILE_NOT_FOUND) return find;
        }
        created = true;
        return AddChild(current, component, current);
    });
    if (status != ERROR_SUCCESS) return status;
    found = liveKey_ = current;
    if (memo && !created) RememberWalk(current);
    return ERROR_SUCCESS;
}

LONG Store::ReadValue(int64_t key, std::u16string_view name, FunctionRef<LONG(const ValueRow&)> use) {
    std::string& folded = Folded();
    FoldName(name, folded);
    ReadMode& mode = ThreadReadMode();
    LONG status = ERROR_FILE_NOT_FOUND;
    if (mode.cacheOnly) {
        const std::optional<CachedValue>* cached = mode.cache->Value(key, folded);
        if (cached == nullptr) return kCacheMiss;
        if (cached->has_value()) return use((*cached)->Row());
    } else {
        Query query(connection_->getValue);
        status = RowOr(query.Bind(1, key).Bind(2, folded).Step(), ERROR_FILE_NOT_FOUND);
        if (status == ERROR_SUCCESS) {
            const ValueRow row = RowOf(query);
            if (mode.cache != nullptr) mode.cache->PutValue(key, folded, Owned(row));
            return use(row);
        }
        if (status == ERROR_FILE_NOT_FOUND && mode.cache != nullptr) mode.cache->PutValue(key, folded, std::nullopt);
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        if (LONG check = CheckKey(key)) return check;
    }
    return status;
}

// Every value of key in first-set order: from the cache when only the cache
// may be used (kCacheMiss when it does not hold them), otherwise read in the
// running transaction and put in the cache. ERROR_SUCCESS and the list in
// list, or a store error.
LONG Store::CachedValues(int64_t key, const std::vector<CachedValue>*& list) {
    ReadMode& mode = ThreadReadMode();
    if (mode.cacheOnly) {
        list = mode.cache->Values(key);
        return list != nullptr ? ERROR_SUCCESS : kCacheMiss;
    }
    // Filling reads the list anew, so that one transaction's answers all come
    // from its own snapshot.
    std::vector<CachedValue> values;
    Query query(connection_->valuesOfKey);
    int rc = query.Bind(1, key).Step();
    for (; rc == SQLITE_ROW; rc = query.Step()) values.push_back(Owned(RowOf(query)));
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    list = &mode.cache->PutValues(key, std::move(values));
    return ERROR_SUCCESS;
}

// Every subkey of key in folded-name order, as CachedValues.
LONG Store::CachedSubkeys(int64_t key, const std::vector<CachedSubkey>*& list) {
    ReadMode& mode = ThreadReadMode();
    if (mode.cacheOnly) {
        list = mode.cache->Subkeys(key);
        return list != nullptr ? ERROR_SUCCESS : kCacheMiss;
    }
    // Filling reads the list anew, so that one transaction's answers all come
    // from its own snapshot.
    std::vector<CachedSubkey> subkeys;
    Query query(connection_->subkeysOfKey);
    int rc = query.Bind(1, key).Step();
    for (; rc == SQLITE_ROW; rc = query.Step()) subkeys.push_back(CachedSubkey{Bytes(query.BlobData(0), query.BlobSize(0)), query.Int(1)});
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    list = &mode.cache->PutSubkeys(key, std::move(subkeys));
    return ERROR_SUCCESS;
}

LONG Store::ValueAt(int64_t key, DWORD index, FunctionRef<LONG(const ValueRow&)> use) {
    if (ThreadReadMode().cache != nullptr) {
        // The whole list is read once and each index answered from it.
        const std::vector<CachedValue>* list = nullptr;
        if (LONG status = CachedValues(key, list)) return status;
        if (index < list->size()) return use((*list)[index].Row());
        if (LONG check = CheckKey(key)) return check;
        return ERROR_NO_MORE_ITEMS;
    }
    Query query(connection_->valueAt);
    LONG status = RowOr(query.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step(), ERROR_NO_MORE_ITEMS);
    if (status == ERROR_SUCCESS) return use(RowOf(query));
    if (status == ERROR_NO_MORE_ITEMS) {
        if (LONG check = CheckKey(key)) return check;
    }
    return status;
}

LONG Store::WriteValue(int64_t key, std::u16string_view name, DWORD type, const void* data, size_t size) {
    if (LONG check = CheckKey(key)) return check;
    std::string& folded = Folded();
    FoldName(name, folded);
    {
        Query query(connection_->setValue);
        int rc = query.Bind(1, key)
                     .Bind(2, folded)
                     .Bind(3, name)
                     .Bind(4, static_cast<int64_t>(type))
                     .Bind(5, data, size)
                     .Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    return TouchValues(key);
}

LONG Store::DeleteValue(int64_t key, std::u16string_view name) {
    if (LONG check = CheckKey(key)) return check;
    std::string& folded = Folded();
    FoldName(name, folded);
    {
        Query query(connection_->deleteValue);
        int rc = query.Bind(1, key).Bind(2, folded).Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    if (sqlite3_changes(connection_->db) == 0) return ERROR_FILE_NOT_FOUND;
    return TouchValues(key);
}

LONG Store::SubkeyAt(int64_t key, DWORD index,
                     FunctionRef<LONG(const void* name, size_t bytes, int64_t written)> use) {
    if (ThreadReadMode().cache != nullptr) {
        const std::vector<CachedSubkey>* list = nullptr;
        if (LONG status = CachedSubkeys(key, list)) return status;
        if (index < list->size()) {
            const CachedSubkey& subkey = (*list)[index];
            return use(subkey.name.data(), subkey.name.size(), subkey.written);
        }
        if (LONG check = CheckKey(key)) return check;
        return ERROR_NO_MORE_ITEMS;
    }
    Query query(connection_->subkeyAt);
    LONG status = RowOr(query.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step(), ERROR_NO_MORE_ITEMS);
    if (status == ERROR_SUCCESS) return use(query.BlobData(0), query.BlobSize(0), query.Int(1));
    if (status == ERROR_NO_MORE_ITEMS) {
        if (LONG check = CheckKey(key)) return check;
    }
    return status;
}

LONG Store::Stats(int64_t key, KeyStats& stats) {
    ReadMode& mode = ThreadReadMode();
    if (mode.cacheOnly) {
        const KeyStats* cached = mode.cache->Stats(key);
        if (cached == nullptr) return kCacheMiss;
        stats = *cached;
        return ERROR_SUCCESS;
    }
    if (LONG status = ReadStats(key, stats)) return status;
    if (mode.cache != nullptr) mode.cache->PutStats(key, stats);
    return ERROR_SUCCESS;
}

LONG Store::ReadStats(int64_t key, KeyStats& stats) {
    {
        Query query(connection_->keyRow);
        if (LONG status = RowOr(query.Bind(1, key).Step(), ERROR_KEY_DELETED)) return status;
        stats.written = query.Int(0);
    }
    {
        Query query(connection_->subkeyStats);
        if (LONG status = RowOr(query.Bind(1, key).Step(), ERROR_BADDB)) return status;
        stats.subkeys = query.Int(0);
        stats.maxSubkeyChars = query.Int(1) / 2;
    }
    Query query(connection_->valueStats);
    if (LONG status = RowOr(query.Bind(1, key).Step(), ERROR_BADDB)) return status;
    stats.values = query.Int(0);
    stats.maxValueNameChars = query.Int(1) / 2;
    stats.maxDataBytes = query.Int(2);
    stats.written = std::max(stats.written, query.Int(3));
    return ERROR_SUCCESS;
}

LONG Store::DeleteTree(int64_t key, bool keepKey) {
    int64_t parent = 0;
    {
        Query query(connection_->keyRow);
        if (LONG status = RowOr(query.Bind(1, key).Step(), ERROR_KEY_DELETED)) return status;
        parent = query.Int(1);
    }
    if (key == kRootKeyId) keepKey = true;  // the hive's root is never removed
    liveKey_ = 0;
    {
        Query query(connection_->deleteTreeValues);
        if (int rc = query.Bind(1, key).Step(); rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    {
        Query query(connection_->deleteTreeKeys);
        if (int rc = query.Bind(1, key).Bind(2, keepKey ? key : int64_t{0}).Step(); rc != SQLITE_DONE) {
            return ErrorFromSqlite(rc);
        }
    }
    return Touch(keepKey ? key : parent);
}

}  // namespace platform::registry
