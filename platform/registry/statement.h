// Thin RAII over SQLite prepared statements: a statement prepared once per
// connection, and a use of it that binds, steps and always resets.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

#include "platform/types.h"

namespace platform::registry {

// The registry error code for a SQLite result code (extended codes allowed).
LONG ErrorFromSqlite(int rc) noexcept;

// Owns one prepared statement; finalised on destruction.
class Statement {
public:
    Statement() noexcept = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    // Prepares sql for repeated use. Returns a SQLite result code.
    int Prepare(sqlite3* db, std::string_view sql) noexcept;
    sqlite3_stmt* get() const noexcept { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// One execution of a prepared statement. Bound blobs must outlive it (they
// are bound without copying); column values are valid until the next Step or
// the end of the scope, which resets the statement.
class Query {
public:
    explicit Query(const Statement& statement) noexcept : stmt_(statement.get()) {}
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    ~Query() { sqlite3_reset(stmt_); }

    Query& Bind(int index, int64_t value) noexcept;
    Query& Bind(int index, const void* bytes, size_t size) noexcept;
    Query& Bind(int index, std::u16string_view text) noexcept;
    Query& Bind(int index, std::string_view bytes) noexcept;

    // SQLITE_ROW, SQLITE_DONE, or the error of a bind or of the step.
    int Step() noexcept;

    int64_t Int(int column) const noexcept { return sqlite3_column_int64(stmt_, column); }
    const void* BlobData(int column) const noexcept { return sqlite3_column_blob(stmt_, column); }
    size_t BlobSize(int column) const noexcept { return static_cast<size_t>(sqlite3_column_bytes(stmt_, column)); }

private:
    sqlite3_stmt* stmt_;
    int bindError_ = SQLITE_OK;
};

}  // namespace platform::registry
