// Store operations on keys and values, run inside Store::Transact.
#include <bit>

#include "casefold.h"
#include "connection.h"
#include "names.h"
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

}  // namespace

LONG Store::CheckKey(int64_t key) {
    Query query(connection_->keyRow);
    return RowOr(query.Bind(1, key).Step(), ERROR_KEY_DELETED);
}

LONG Store::FindChild(int64_t parent, std::u16string_view name, int64_t& child) {
    FoldName(name, folded_);
    Query query(connection_->findChild);
    LONG status = RowOr(query.Bind(1, parent).Bind(2, folded_).Step(), ERROR_FILE_NOT_FOUND);
    if (status == ERROR_SUCCESS) child = query.Int(0);
    return status;
}

LONG Store::AddChild(int64_t parent, std::u16string_view name, int64_t& child) {
    FoldName(name, folded_);
    {
        Query query(connection_->addChild);
        int rc = query.Bind(1, parent).Bind(2, name).Bind(3, folded_).Bind(4, now_).Step();
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

LONG Store::WalkCreate(int64_t key, std::u16string_view path, int64_t& found, bool& created) {
    if (LONG check = CheckKey(key)) return check;
    int64_t current = key;
    created = false;
    LONG status = ForEachComponent(path, [&](std::u16string_view component, bool) -> LONG {
        if (!created) {
            LONG find = FindChild(current, component, current);
            if (find != ERROR_FILE_NOT_FOUND) return find;
        }
        created = true;
        return AddChild(current, component, current);
    });
    if (status == ERROR_SUCCESS) found = current;
    return status;
}

LONG Store::ReadValue(int64_t key, std::u16string_view name, FunctionRef<LONG(const ValueRow&)> use) {
    FoldName(name, folded_);
    Query query(connection_->getValue);
    LONG status = RowOr(query.Bind(1, key).Bind(2, folded_).Step(), ERROR_FILE_NOT_FOUND);
    if (status == ERROR_SUCCESS) return use(RowOf(query));
    if (status == ERROR_FILE_NOT_FOUND) {
        if (LONG check = CheckKey(key)) return check;
    }
    return status;
}

LONG Store::ValueAt(int64_t key, DWORD index, FunctionRef<LONG(const ValueRow&)> use) {
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
    FoldName(name, folded_);
    {
        Query query(connection_->setValue);
        int rc = query.Bind(1, key)
                     .Bind(2, folded_)
                     .Bind(3, name)
                     .Bind(4, static_cast<int64_t>(type))
                     .Bind(5, data, size)
                     .Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    return Touch(key);
}

LONG Store::DeleteValue(int64_t key, std::u16string_view name) {
    if (LONG check = CheckKey(key)) return check;
    FoldName(name, folded_);
    {
        Query query(connection_->deleteValue);
        int rc = query.Bind(1, key).Bind(2, folded_).Step();
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    }
    if (sqlite3_changes(connection_->db) == 0) return ERROR_FILE_NOT_FOUND;
    return Touch(key);
}

LONG Store::SubkeyAt(int64_t key, DWORD index,
                     FunctionRef<LONG(const void* name, size_t bytes, int64_t written)> use) {
    Query query(connection_->subkeyAt);
    LONG status = RowOr(query.Bind(1, key).Bind(2, static_cast<int64_t>(index)).Step(), ERROR_NO_MORE_ITEMS);
    if (status == ERROR_SUCCESS) return use(query.BlobData(0), query.BlobSize(0), query.Int(1));
    if (status == ERROR_NO_MORE_ITEMS) {
        if (LONG check = CheckKey(key)) return check;
    }
    return status;
}

LONG Store::Stats(int64_t key, KeyStats& stats) {
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
