#include "statement.h"

namespace platform::registry {

LONG ErrorFromSqlite(int rc) noexcept {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE:
            return ERROR_SUCCESS;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ERROR_BUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return ERROR_ACCESS_DENIED;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
        case SQLITE_FORMAT:
            return ERROR_BADDB;
        case SQLITE_FULL:
            return ERROR_DISK_FULL;
        case SQLITE_NOMEM:
            return ERROR_OUTOFMEMORY;
        case SQLITE_CANTOPEN:
            return ERROR_CANTOPEN;
        case SQLITE_TOOBIG:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_REGISTRY_IO_FAILED;
    }
}

int Statement::Prepare(sqlite3* db, std::string_view sql) noexcept {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt_,
                              nullptr);
}

Query& Query::Bind(int index, int64_t value) noexcept {
    int rc = sqlite3_bind_int64(stmt_, index, value);
    if (bindError_ == SQLITE_OK) bindError_ = rc;
    return *this;
}

Query& Query::Bind(int index, const void* bytes, size_t size) noexcept {
    // A zero-length blob needs a non-null pointer, or SQLite binds NULL.
    static const char kEmpty = 0;
    int rc = sqlite3_bind_blob64(stmt_, index, size != 0 ? bytes : &kEmpty, size, SQLITE_STATIC);
    if (bindError_ == SQLITE_OK) bindError_ = rc;
    return *this;
}

Query& Query::Bind(int index, std::u16string_view text) noexcept {
    return Bind(index, text.data(), text.size() * sizeof(char16_t));
}

Query& Query::Bind(int index, std::string_view bytes) noexcept { return Bind(index, bytes.data(), bytes.size()); }

int Query::Step() noexcept {
    if (bindError_ != SQLITE_OK) return bindError_;
    return sqlite3_step(stmt_);
}

}  // namespace platform::registry
