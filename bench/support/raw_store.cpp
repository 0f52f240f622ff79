#include "support/raw_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

namespace {

[[noreturn]] void Fail(sqlite3* db, const char* what) {
    std::fprintf(stderr, "bench: %s: %s\n", what, db != nullptr ? sqlite3_errmsg(db) : "no connection");
    std::abort();
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
        Fail(db, sql);
    return statement;
}

std::u16string BlobText(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const char16_t*>(sqlite3_column_blob(statement, column));
    size_t units = static_cast<size_t>(sqlite3_column_bytes(statement, column)) / 2;
    return std::u16string(bytes != nullptr ? bytes : u"", units);
}

}  // namespace

void FoldAscii(std::u16string_view name, std::string& out) {
    out.resize(name.size() * 2);
    char* bytes = out.data();
    for (char16_t unit : name) {
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 0x20);
        *bytes++ = static_cast<char>(unit >> 8);
        *bytes++ = static_cast<char>(unit & 0xFF);
    }
}

std::u16string UpperAscii(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& unit : out) {
        if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 0x20);
    }
    return out;
}

RawStore::RawStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        Fail(db_, "open");
    sqlite3_busy_timeout(db_, 5000);
    if (sqlite3_exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        Fail(db_, "pragmas");
    begin_ = Prepare(db_, "BEGIN");
    beginWrite_ = Prepare(db_, "BEGIN IMMEDIATE");
    commit_ = Prepare(db_, "COMMIT");
    findChild_ = Prepare(db_, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    getValue_ = Prepare(db_, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
    enumValues_ = Prepare(db_, "SELECT name, type, data FROM vals WHERE key = ?1 AND seq > 0 ORDER BY seq");
    enumSubkeys_ = Prepare(db_, "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded");
    upsert_ = Prepare(db_,
                      "INSERT INTO vals(key, folded, name, type, data, seq) VALUES(?1, ?2, ?3, 1, ?4,"
                      " (SELECT coalesce(max(seq), 0) + 1 FROM vals WHERE key = ?1))"
                      " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    touch_ = Prepare(db_, "UPDATE keys SET written = written + 1 WHERE id = ?1");
}

RawStore::~RawStore() {
    for (sqlite3_stmt* s :
         {begin_, beginWrite_, commit_, findChild_, getValue_, enumValues_, enumSubkeys_, upsert_, touch_}) {
        sqlite3_finalize(s);
    }
    sqlite3_close(db_);
}

void RawStore::Exec(sqlite3_stmt* statement) {
    if (sqlite3_step(statement) != SQLITE_DONE) Fail(db_, "transaction statement");
    sqlite3_reset(statement);
}

bool RawStore::Walk(std::u16string_view path, int64_t& id) {
    id = 1;
    return ForEachComponent(path, [&](std::u16string_view component) {
        FoldAscii(component, folded_);
        sqlite3_bind_int64(findChild_, 1, id);
        sqlite3_bind_blob(findChild_, 2, folded_.data(), static_cast<int>(folded_.size()), SQLITE_STATIC);
        bool found = sqlite3_step(findChild_) == SQLITE_ROW;
        if (found) id = sqlite3_column_int64(findChild_, 0);
        sqlite3_reset(findChild_);
        return found;
    });
}

bool RawStore::ReadValue(std::u16string_view path, std::u16string_view name, std::u16string& out) {
    Exec(begin_);
    int64_t key = 0;
    bool found = Walk(path, key);
    if (found) {
        FoldAscii(name, folded_);
        sqlite3_bind_int64(getValue_, 1, key);
        sqlite3_bind_blob(getValue_, 2, folded_.data(), static_cast<int>(folded_.size()), SQLITE_STATIC);
        found = sqlite3_step(getValue_) == SQLITE_ROW;
        if (found) out = BlobText(getValue_, 1);
        sqlite3_reset(getValue_);
    }
    Exec(commit_);
    return found;
}

bool RawStore::EnumValues(std::u16string_view path, std::vector<std::pair<std::u16string, std::u16string>>& out) {
    out.clear();
    Exec(begin_);
    int64_t key = 0;
    bool found = Walk(path, key);
    if (found) {
        sqlite3_bind_int64(enumValues_, 1, key);
        while (sqlite3_step(enumValues_) == SQLITE_ROW) out.emplace_back(BlobText(enumValues_, 0), BlobText(enumValues_, 2));
        sqlite3_reset(enumValues_);
    }
    Exec(commit_);
    return found;
}

bool RawStore::EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& out) {
    out.clear();
    Exec(begin_);
    int64_t key = 0;
    bool found = Walk(path, key);
    if (found) {
        sqlite3_bind_int64(enumSubkeys_, 1, key);
        while (sqlite3_step(enumSubkeys_) == SQLITE_ROW) out.push_back(BlobText(enumSubkeys_, 0));
        sqlite3_reset(enumSubkeys_);
    }
    Exec(commit_);
    return found;
}

bool RawStore::UpsertRow(int64_t key, std::u16string_view name, std::u16string_view text) {
    FoldAscii(name, folded_);
    sqlite3_bind_int64(upsert_, 1, key);
    sqlite3_bind_blob(upsert_, 2, folded_.data(), static_cast<int>(folded_.size()), SQLITE_STATIC);
    sqlite3_bind_blob(upsert_, 3, name.data(), static_cast<int>(name.size() * 2), SQLITE_STATIC);
    sqlite3_bind_blob(upsert_, 4, text.data(), static_cast<int>((text.size() + 1) * 2), SQLITE_STATIC);
    bool done = sqlite3_step(upsert_) == SQLITE_DONE;
    sqlite3_reset(upsert_);
    return done;
}

bool RawStore::Upsert(int64_t key, std::u16string_view name, std::u16string_view text) {
    Exec(beginWrite_);
    bool done = UpsertRow(key, name, text);
    Exec(commit_);
    return done;
}

bool RawStore::UpsertAndTouch(int64_t key, std::u16string_view name, std::u16string_view text) {
    Exec(beginWrite_);
    bool done = UpsertRow(key, name, text);
    sqlite3_bind_int64(touch_, 1, key);
    done = sqlite3_step(touch_) == SQLITE_DONE && done;
    sqlite3_reset(touch_);
    Exec(commit_);
    return done;
}

int64_t RawStore::KeyId(std::u16string_view path) {
    Exec(begin_);
    int64_t key = 0;
    bool found = Walk(path, key);
    Exec(commit_);
    return found ? key : -1;
}

MapStore::MapStore(RawStore& source) {
    sqlite3_stmt* keys = Prepare(source.db(), "SELECT id, parent, folded FROM keys WHERE parent IS NOT NULL");
    while (sqlite3_step(keys) == SQLITE_ROW) {
        // The folded blob is big-endian UTF-16; the map keeps it as units.
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(keys, 2));
        std::u16string folded;
        for (int i = 0; i + 1 < sqlite3_column_bytes(keys, 2); i += 2)
            folded.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
        children_[{sqlite3_column_int64(keys, 1), folded}] = sqlite3_column_int64(keys, 0);
    }
    sqlite3_finalize(keys);
    sqlite3_stmt* vals = Prepare(source.db(), "SELECT key, folded, type, data FROM vals WHERE seq > 0");
    while (sqlite3_step(vals) == SQLITE_ROW) {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(vals, 1));
        std::u16string folded;
        for (int i = 0; i + 1 < sqlite3_column_bytes(vals, 1); i += 2)
            folded.push_back(static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]));
        values_[{sqlite3_column_int64(vals, 0), folded}] =
            RawValue{static_cast<uint32_t>(sqlite3_column_int64(vals, 2)), BlobText(vals, 3)};
    }
    sqlite3_finalize(vals);
}

bool MapStore::ReadValue(std::u16string_view path, std::u16string_view name, std::u16string& out) const {
    int64_t id = 1;
    bool found = ForEachComponent(path, [&](std::u16string_view component) {
        auto child = children_.find({id, UpperAscii(component)});
        if (child == children_.end()) return false;
        id = child->second;
        return true;
    });
    if (!found) return false;
    auto value = values_.find({id, UpperAscii(name)});
    if (value == values_.end()) return false;
    out = value->second.data;
    return true;
}

}  // namespace bench
