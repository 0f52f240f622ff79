// The floors of the registry members: the same lookups done with the raw
// SQLite library on the store file (FORMAT.md), and in a std::map holding the
// same data. Statements are prepared once; each operation is one transaction.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bench {

// A value as the floors copy it out.
struct RawValue {
    uint32_t type = 0;
    std::u16string data;
};

class RawStore {
public:
    // Opens the store file with its own connection (WAL, synchronous=NORMAL,
    // busy timeout 5 s, as the store sets them).
    explicit RawStore(const std::string& path);
    ~RawStore();
    RawStore(const RawStore&) = delete;
    RawStore& operator=(const RawStore&) = delete;

    // Path walk and value read in one read transaction; false when missing.
    bool ReadValue(std::u16string_view path, std::u16string_view name, std::u16string& out);
    // Path walk and every value of the key (name, data) in one read transaction.
    bool EnumValues(std::u16string_view path, std::vector<std::pair<std::u16string, std::u16string>>& out);
    // Path walk and every subkey name in folded order, one read transaction.
    bool EnumSubkeys(std::u16string_view path, std::vector<std::u16string>& out);
    // One upsert of a REG_SZ value of key id `key` in its own BEGIN IMMEDIATE
    // transaction.
    bool Upsert(int64_t key, std::u16string_view name, std::u16string_view text);
    // The same upsert and, in the same transaction, the time in the key's row
    // (the second page a value write changed before keys had time rows).
    bool UpsertAndTouch(int64_t key, std::u16string_view name, std::u16string_view text);
    // The id of the key at path (its own transaction); -1 when missing.
    int64_t KeyId(std::u16string_view path);

    sqlite3* db() const { return db_; }

private:
    bool Walk(std::u16string_view path, int64_t& id);
    void Exec(sqlite3_stmt* statement);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* begin_ = nullptr;
    sqlite3_stmt* beginWrite_ = nullptr;
    sqlite3_stmt* commit_ = nullptr;
    sqlite3_stmt* findChild_ = nullptr;
    sqlite3_stmt* getValue_ = nullptr;
    sqlite3_stmt* enumValues_ = nullptr;
    sqlite3_stmt* enumSubkeys_ = nullptr;
    sqlite3_stmt* upsert_ = nullptr;
    sqlite3_stmt* touch_ = nullptr;
    bool UpsertRow(int64_t key, std::u16string_view name, std::u16string_view text);
    std::string folded_;
};

// The in-memory limit: the store's keys and values loaded into ordered maps,
// looked up the same way (walk by folded component, then the value).
class MapStore {
public:
    explicit MapStore(RawStore& source);
    bool ReadValue(std::u16string_view path, std::u16string_view name, std::u16string& out) const;

private:
    std::map<std::pair<int64_t, std::u16string>, int64_t> children_;
    std::map<std::pair<int64_t, std::u16string>, RawValue> values_;
};

// ASCII upper-casing of one name, as big-endian UTF-16 bytes (the store's
// folded form for ASCII names).
void FoldAscii(std::u16string_view name, std::string& out);
std::u16string UpperAscii(std::u16string_view name);

// Calls visit(component) for each backslash-separated component of path.
template <typename Visit>
bool ForEachComponent(std::u16string_view path, Visit&& visit) {
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(u'\\', pos);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > pos && !visit(path.substr(pos, end - pos))) return false;
        pos = end + 1;
    }
    return true;
}

}  // namespace bench
