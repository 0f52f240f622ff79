// A key's last write time as RegQueryInfoKeyW and the parent's RegEnumKeyExW
// report it, the per-key time row kept among the values (never seen as a
// value), and key paths resolved again after the keys they name are deleted.
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <thread>

#include "registry_fixture.h"

using namespace registry_test;
using platform::UniqueHkey;

namespace {

constexpr char16_t kParent[] = u"Times";
constexpr char16_t kChild[] = u"Dev";
constexpr char16_t kPath[] = u"Times\\Dev";

int64_t Ticks(const FILETIME& time) {
    return static_cast<int64_t>(uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime);
}

// The key's time from RegQueryInfoKeyW, or -1 on failure.
int64_t InfoTime(HKEY key) {
    FILETIME written{};
    LONG status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, &written);
    return status == ERROR_SUCCESS ? Ticks(written) : -1;
}

// The time RegEnumKeyExW on parent reports for the subkey called name, or -1.
int64_t EnumTime(HKEY parent, std::u16string_view name) {
    for (DWORD index = 0;; ++index) {
        WCHAR found[64];
        DWORD chars = 64;
        FILETIME written{};
        if (RegEnumKeyExW(parent, index, found, &chars, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS)
            return -1;
        if (std::u16string_view(found, chars) == name) return Ticks(written);
    }
}

int64_t Stored(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    int64_t result = -1;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        result = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return result;
}

class RegTimes : public RegistryTest {};

struct Change {
    const char* what;
    std::function<LONG(HKEY key)> apply;
    bool advances;
};

// Every change of a key moves its time on, as both calls report it, and a
// refused change does not. Each case reads the times first, so that a stale
// read cache would show.
TEST_F(RegTimes, LastWriteTimeFollowsEveryChangeOfTheKey) {
    const BYTE one[] = {1};
    const Change changes[] = {
        {"value set through a handle", [&](HKEY key) { return RegSetValueExW(key, u"v", 0, REG_BINARY, one, 1); },
         true},
        {"value replaced", [&](HKEY key) { return RegSetValueExW(key, u"V", 0, REG_DWORD, one, 1); }, true},
        {"default value set",
         [&](HKEY key) { return RegSetValueExW(key, nullptr, 0, REG_BINARY, one, 1); }, true},
        {"value set by path",
         [&](HKEY) { return platform::RegistrySetValue(HKEY_LOCAL_MACHINE, kPath, u"w", REG_BINARY, one, 1); },
         true},
        {"value deleted", [&](HKEY key) { return RegDeleteValueW(key, u"v"); }, true},
        {"missing value not deleted",
         [&](HKEY key) { return RegDeleteValueW(key, u"v") == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : ERROR_BADDB; },
         false},
        {"subkey made",
         [&](HKEY key) {
             UniqueHkey sub;
             return RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_READ, nullptr, sub.put(), nullptr);
         },
         true},
        {"subkey deleted", [&](HKEY key) { return RegDeleteTreeW(key, u"Sub"); }, true},
        {"values deleted with the tree", [&](HKEY key) { return RegDeleteTreeW(key, nullptr); }, true},
    };
    UniqueHkey parent = Create(kParent);
    UniqueHkey key = Create(kPath);
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        const int64_t before = InfoTime(key.get());
        ASSERT_GT(before, 0);
        ASSERT_EQ(EnumTime(parent.get(), kChild), before);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(change.apply(key.get()), ERROR_SUCCESS);
        const int64_t after = InfoTime(key.get());
        EXPECT_EQ(EnumTime(parent.get(), kChild), after) << "both calls report one time";
        if (change.advances) {
            EXPECT_GT(after, before);
            EXPECT_LT(after - before, int64_t{600} * 10'000'000) << "a time of now, in FILETIME ticks";
        } else {
            EXPECT_EQ(after, before);
        }
    }
}

// Names whose folded forms sort right beside the time row: the default value
// (empty), U+0001 (bytes 00 01) and U+0100 (bytes 01 00).
TEST_F(RegTimes, TimeRowIsNeverSeenAsAValue) {
    const char16_t* const names[] = {u"\x0001", u"", u"\x0100", u"z"};
    UniqueHkey key = Create(kPath);
    DWORD number = 0;
    for (const char16_t* name : names) {
        ++number;
        ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
                  ERROR_SUCCESS);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(StorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_EQ(Stored(db, "SELECT count(*) FROM vals WHERE folded = x'00'"), 1) << "the key has its time row";
    sqlite3_close(db);

    auto counts = [&](DWORD& values, DWORD& maxName, DWORD& maxData) {
        return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &maxName,
                                &maxData, nullptr, nullptr);
    };
    DWORD values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(counts(values, maxName, maxData), ERROR_SUCCESS);
    EXPECT_EQ(values, 4u);
    EXPECT_EQ(maxName, 1u);
    EXPECT_EQ(maxData, 4u);
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"\x0001", u"", u"\x0100", u"z"}));
    number = 0;
    for (const char16_t* name : names) {
        ++number;
        DWORD type = 0, read = 0, size = 4;
        EXPECT_EQ(platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, kPath, name, &type, reinterpret_cast<BYTE*>(&read),
                                               &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(read, number);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    }

    for (const char16_t* name : names) ASSERT_EQ(RegDeleteValueW(key.get(), name), ERROR_SUCCESS);
    ASSERT_EQ(counts(values, maxName, maxData), ERROR_SUCCESS);
    EXPECT_EQ(values + maxName + maxData, 0u) << "no value left, the time row stays";
    EXPECT_TRUE(ValueNames(key.get()).empty());
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // A value made after the others were deleted comes first, as in a new key.
    ASSERT_EQ(SetBytes(key.get(), u"n", REG_BINARY, {7}), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key.get()), std::vector<std::u16string>{u"n"});
}

// A path the store resolved before resolves to the key now at that path, in
// any spelling: deleted and made again, or deleted by another connection.
TEST_F(RegTimes, PathResolvesToTheKeyNowThere) {
    auto set = [](const char16_t* path, DWORD number) {
        return platform::RegistrySetValue(HKEY_LOCAL_MACHINE, path, u"n", REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&number), 4);
    };
    auto get = [](const char16_t* path, LONG& status) {
        DWORD number = 0, size = 4;
        status = platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, path, u"n", nullptr,
                                              reinterpret_cast<BYTE*>(&number), &size);
        return number;
    };
    LONG status = ERROR_SUCCESS;
    ASSERT_EQ(set(u"A\\B\\C", 1), ERROR_SUCCESS);
    ASSERT_EQ(set(u"a\\b\\c", 2), ERROR_SUCCESS);
    EXPECT_EQ(get(u"A\\B\\C", status), 2u) << "one key in both spellings";

    UniqueHkey old;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A\\B\\C", 0, KEY_READ, old.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"A\\B"), ERROR_SUCCESS);
    ASSERT_EQ(set(u"A\\B\\C", 3), ERROR_SUCCESS);
    EXPECT_EQ(get(u"a\\b\\c", status), 3u);
    ASSERT_EQ(set(u"A\\B\\C", 3), ERROR_SUCCESS) << "found, not made, this time";
    UniqueHkey current;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A\\B\\C", 0, KEY_ALL_ACCESS, current.put()), ERROR_SUCCESS);
    DWORD values = 9;
    EXPECT_EQ(RegQueryInfoKeyW(old.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED)
        << "the old handle still names the deleted key";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(StorePath().c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    ASSERT_EQ(sqlite3_exec(db,
                           "DELETE FROM vals WHERE key = (SELECT max(id) FROM keys);"
                           "DELETE FROM keys WHERE id = (SELECT max(id) FROM keys);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    get(u"A\\B\\C", status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << "deleted by another connection";
    EXPECT_EQ(SetBytes(current.get(), u"n", REG_BINARY, {1}), ERROR_KEY_DELETED);
    ASSERT_EQ(set(u"A\\B\\C", 4), ERROR_SUCCESS) << "made again";
    EXPECT_EQ(get(u"A\\B\\C", status), 4u);
    EXPECT_EQ(status, ERROR_SUCCESS);
}

}  // namespace
