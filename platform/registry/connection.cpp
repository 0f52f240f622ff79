#include "connection.h"

#include <string_view>
#include <utility>

namespace platform::registry {

const char kCreateSchemaSql[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER,"
    "  name BLOB NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  written INTEGER NOT NULL,"
    "  UNIQUE(parent, folded));"
    "CREATE TABLE vals("
    "  key INTEGER NOT NULL,"
    "  folded BLOB NOT NULL,"
    "  name BLOB NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  seq INTEGER NOT NULL,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "CREATE INDEX vals_by_seq ON vals(key, seq);"
    "INSERT INTO keys(id, parent, name, folded, written) VALUES(1, NULL, x'', x'', %lld);"
    "PRAGMA application_id=1297237809;"
    "PRAGMA user_version=2;";

static_assert(kApplicationId == 1297237809, "the schema text spells the application id in decimal");

int StoreConnection::PrepareAll() noexcept {
    const std::pair<Statement*, std::string_view> statements[] = {
        {&beginRead, "BEGIN"},
        {&beginWrite, "BEGIN IMMEDIATE"},
        {&commit, "COMMIT"},
        {&rollback, "ROLLBACK"},
        {&keyRow, "SELECT written, parent FROM keys WHERE id = ?1"},
        {&findChild, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2"},
        {&addChild, "INSERT INTO keys(parent, name, folded, written) VALUES(?1, ?2, ?3, ?4)"},
        {&touch, "UPDATE keys SET written = ?2 WHERE id = ?1"},
        // A subkey's time is the later of its row's and its time row's.
        {&subkeyAt,
         "SELECT k.name, max(k.written, coalesce(t.type, 0)) FROM keys k LEFT JOIN vals t"
         " ON t.key = k.id AND t.folded = x'00' WHERE k.parent = ?1 ORDER BY k.folded LIMIT 1 OFFSET ?2"},
        {&subkeysOfKey,
         "SELECT k.name, max(k.written, coalesce(t.type, 0)) FROM keys k LEFT JOIN vals t"
         " ON t.key = k.id AND t.folded = x'00' WHERE k.parent = ?1 ORDER BY k.folded"},
        {&subkeyStats, "SELECT count(*), coalesce(max(length(name)), 0) FROM keys WHERE parent = ?1"},
        {&getValue, "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2"},
        {&setValue,
         "INSERT INTO vals(key, folded, name, type, data, seq) VALUES(?1, ?2, ?3, ?4, ?5,"
         " (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?1))"
         " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data"},
        // Only the time changes once the row exists, so vals_by_seq is not
        // written; the row is added when the update finds none.
        {&touchValues, "UPDATE vals SET type = ?2 WHERE key = ?1 AND folded = x'00'"},
        {&addTimeRow, "INSERT INTO vals(key, folded, name, type, data, seq) VALUES(?1, x'00', x'', ?2, x'', 0)"},
        {&deleteValue, "DELETE FROM vals WHERE key = ?1 AND folded = ?2"},
        {&valueAt, "SELECT name, type, data FROM vals WHERE key = ?1 AND seq > 0 ORDER BY seq LIMIT 1 OFFSET ?2"},
        {&valuesOfKey, "SELECT name, type, data FROM vals WHERE key = ?1 AND seq > 0 ORDER BY seq"},
        {&valueStats,
         "SELECT count(*) FILTER (WHERE seq > 0), coalesce(max(length(name)) FILTER (WHERE seq > 0), 0),"
         " coalesce(max(length(data)) FILTER (WHERE seq > 0), 0), coalesce(max(type) FILTER (WHERE seq = 0), 0)"
         " FROM vals WHERE key = ?1"},
        {&deleteTreeValues,
         "DELETE FROM vals WHERE key IN (WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL"
         " SELECT k.id FROM keys k JOIN t ON k.parent = t.id) SELECT id FROM t)"},
        {&deleteTreeKeys,
         "DELETE FROM keys WHERE id IN (WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL"
         " SELECT k.id FROM keys k JOIN t ON k.parent = t.id) SELECT id FROM t) AND id <> ?2"},
    };
    for (const auto& [statement, sql] : statements) {
        if (int rc = statement->Prepare(db, sql); rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
}

}  // namespace platform::registry
