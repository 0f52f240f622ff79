// The store file itself: a store this process may not write, a damaged or
// foreign file, a store held busy by another connection, and the on-disk
// layout FORMAT.md promises to other readers.
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "registry_fixture.h"

using namespace registry_test;
using platform::UniqueHkey;

namespace {

class RegStore : public RegistryTest {
protected:
    // Lets user nobody walk into the root folder (mkdtemp makes it 0700) but
    // not write it.
    void OpenRootForReading() { ASSERT_EQ(::chmod(Root().c_str(), 0755), 0); }
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// What a process that may not write the store sees. Pushes codes in a fixed order.
void ReadOnlyProbe(std::vector<LONG>& out) {
    HKEY key = HKEY_LOCAL_MACHINE;
    out.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM", 0, KEY_READ, &key));
    BYTE data[16] = {};
    DWORD size = sizeof data;
    out.push_back(RegQueryValueExW(key, u"v", nullptr, nullptr, data, &size));
    out.push_back(static_cast<LONG>(size == 2 && data[0] == 0x5A && data[1] == 0xA5));
    WCHAR name[16];
    DWORD chars = 16;
    out.push_back(RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &chars, nullptr, nullptr, nullptr, nullptr));
    out.push_back(RegCloseKey(key));

    for (REGSAM access : {KEY_WRITE, KEY_SET_VALUE, KEY_CREATE_SUB_KEY, KEY_ALL_ACCESS}) {
        key = HKEY_LOCAL_MACHINE;
        out.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM", 0, access, &key));
        out.push_back(static_cast<LONG>(key == nullptr));
    }
    key = HKEY_LOCAL_MACHINE;
    out.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr));
    out.push_back(static_cast<LONG>(key == nullptr));
    out.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\New", 0, nullptr, 0, KEY_READ, nullptr, &key,
                                  nullptr));
    out.push_back(RegSetValueExW(HKEY_LOCAL_MACHINE, u"x", 0, REG_BINARY, data, 1));
    out.push_back(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Software"));
    out.push_back(static_cast<LONG>(platform::RegistryOpenHandleCount()));
}

TEST_F(RegStore, UnwritableStoreServesReadsAndRefusesWrites) {
    {
        UniqueHkey key = Create(u"Software\\OEM");
        ASSERT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {0x5A, 0xA5}), ERROR_SUCCESS);
    }
    OpenRootForReading();
    std::vector<LONG> results = RunInChild(ReadOnlyProbe, /*dropToNobody=*/true);
    std::vector<LONG> expected = {
        ERROR_SUCCESS, ERROR_SUCCESS, 1, ERROR_SUCCESS, ERROR_SUCCESS,  // reads
        ERROR_ACCESS_DENIED, 1, ERROR_ACCESS_DENIED, 1, ERROR_ACCESS_DENIED, 1, ERROR_ACCESS_DENIED, 1,
        ERROR_ACCESS_DENIED, 1,  // create of an existing key for writing
        ERROR_ACCESS_DENIED,     // create of a missing key
        ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0};
    EXPECT_EQ(results, expected);
    // Nothing changed for the owner.
    LONG status = ERROR_SUCCESS;
    UniqueHkey key = Open(u"Software\\OEM", KEY_READ, status);
    ASSERT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key.get()), std::vector<std::u16string>{u"v"});
    Open(u"Software\\New", KEY_READ, status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
}

void AbsentStoreProbe(std::vector<LONG>& out) {
    HKEY key = HKEY_LOCAL_MACHINE;
    out.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key));
    out.push_back(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr));
    BYTE data[4];
    DWORD size = sizeof data;
    out.push_back(RegQueryValueExW(HKEY_LOCAL_MACHINE, u"x", nullptr, nullptr, data, &size));
    out.push_back(RegSetValueExW(HKEY_LOCAL_MACHINE, u"x", 0, REG_BINARY, data, 1));
}

TEST_F(RegStore, MissingStoreInUnwritableFolderIsEmptyAndRefusesWrites) {
    OpenRootForReading();
    std::vector<LONG> results = RunInChild(AbsentStoreProbe, /*dropToNobody=*/true);
    EXPECT_EQ(results, (std::vector<LONG>{ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND,
                                          ERROR_ACCESS_DENIED}));
    struct stat info {};
    EXPECT_NE(::stat(StorePath().c_str(), &info), 0) << "no store file may appear";
}

// Every way in through the root answers code, and the file is left as it was.
void ExpectRefusedWithFileIntact(const std::string& path, LONG code) {
    std::string before = ReadFile(path);
    HKEY key = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &key), code);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              code);
    BYTE data[4] = {1, 2, 3, 4};
    EXPECT_EQ(RegSetValueExW(HKEY_LOCAL_MACHINE, u"x", 0, REG_BINARY, data, 4), code);
    EXPECT_EQ(ReadFile(path), before) << "the file must not be touched";
    struct stat info {};
    EXPECT_NE(::stat((path + "-wal").c_str(), &info), 0) << "no journal may be started on it";
}

TEST_F(RegStore, DamagedFileIsBadDatabase) {
    std::string garbage(8192, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7919 % 251);
    WriteFile(StorePath(), garbage);
    ExpectRefusedWithFileIntact(StorePath(), ERROR_BADDB);
}

TEST_F(RegStore, ForeignDatabaseIsBadDatabase) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(StorePath().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE keys(x); INSERT INTO keys VALUES(1);", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ExpectRefusedWithFileIntact(StorePath(), ERROR_BADDB);
}

TEST_F(RegStore, WriterHeldBusyFailsAfterBoundedWaitWhileReadersGoOn) {
    UniqueHkey key = Create(u"Busy");
    ASSERT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(StorePath().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(key.get(), u"v", type, data), ERROR_SUCCESS) << "a reader is not blocked by a writer";
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {2}), ERROR_BUSY);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::seconds(4)) << "it waited before giving up";

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {3}), ERROR_SUCCESS) << "the store works again";
    EXPECT_EQ(GetBytes(key.get(), u"v", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::vector<BYTE>{3});
}

// A store of layout 1 as the build before time rows made it: key Old with
// values a and b, last written at kOldTime.
constexpr int64_t kOldTime = 133000000000000000;

// The file is in WAL mode, keeping its -wal and -shm files (so that a reader
// that may not write the folder can open it), unless another version is asked
// for: that file is left without a journal.
void MakeLayout1Store(const std::string& path, int version = 1) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    int persist = 1;
    if (version == 1) {
        sqlite3_file_control(db, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
        ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    char* sql = sqlite3_mprintf(
        "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER, name BLOB NOT NULL,"
        "  folded BLOB NOT NULL, written INTEGER NOT NULL, UNIQUE(parent, folded));"
        "CREATE TABLE vals(key INTEGER NOT NULL, folded BLOB NOT NULL, name BLOB NOT NULL, type INTEGER NOT NULL,"
        "  data BLOB NOT NULL, seq INTEGER NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;"
        "CREATE INDEX vals_by_seq ON vals(key, seq);"
        "INSERT INTO keys VALUES(1, NULL, x'', x'', %lld);"
        "INSERT INTO keys VALUES(2, 1, x'4F006C006400', x'004F004C0044', %lld);"
        "INSERT INTO vals VALUES(2, x'0042', x'6200', 3, x'BB', 2);"
        "INSERT INTO vals VALUES(2, x'0041', x'6100', 3, x'AA', 1);"
        "PRAGMA application_id=1297237809;"
        "PRAGMA user_version=%d;",
        static_cast<long long>(kOldTime), static_cast<long long>(kOldTime), version);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_free(sql);
    sqlite3_close(db);
}

std::string PragmaOf(const std::string& path, const char* pragma) {
    sqlite3* db = nullptr;
    std::string result;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, pragma, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

// What a process sees of the layout-1 store: pushes codes, then 1 for each
// fact that holds (the values, their order, their count, the key's time).
void Layout1Probe(std::vector<LONG>& out) {
    HKEY key = nullptr;
    out.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"old", 0, KEY_READ, &key));
    DWORD type = 0;
    std::vector<BYTE> data;
    out.push_back(GetBytes(key, u"B", type, data));
    out.push_back(static_cast<LONG>(type == REG_BINARY && data == std::vector<BYTE>{0xBB}));
    out.push_back(static_cast<LONG>(ValueNames(key) == std::vector<std::u16string>{u"a", u"b"}));
    DWORD values = 0;
    FILETIME written{};
    out.push_back(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                                   nullptr, nullptr, &written));
    const int64_t ticks = static_cast<int64_t>(uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime);
    out.push_back(static_cast<LONG>(values == 2 && ticks == kOldTime));
    RegCloseKey(key);
}

TEST_F(RegStore, Layout1StoreIsReadAndUpgradedWhenWritable) {
    MakeLayout1Store(StorePath());
    std::vector<LONG> results;
    Layout1Probe(results);
    EXPECT_EQ(results, (std::vector<LONG>{ERROR_SUCCESS, ERROR_SUCCESS, 1, 1, ERROR_SUCCESS, 1}));
    EXPECT_EQ(PragmaOf(StorePath(), "PRAGMA user_version"), "2") << "upgraded when opened";

    UniqueHkey key = Create(u"Old");
    ASSERT_EQ(SetBytes(key.get(), u"c", REG_BINARY, {0xCC}), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    FILETIME written{};
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 3u);
    EXPECT_GT(static_cast<int64_t>(uint64_t{written.dwHighDateTime} << 32 | written.dwLowDateTime), kOldTime);
    EXPECT_EQ(PragmaOf(StorePath(), "PRAGMA integrity_check"), "ok");
}

TEST_F(RegStore, Layout1StoreIsReadAsItIsWhenReadOnly) {
    MakeLayout1Store(StorePath());
    OpenRootForReading();
    std::vector<LONG> results = RunInChild(Layout1Probe, /*dropToNobody=*/true);
    EXPECT_EQ(results, (std::vector<LONG>{ERROR_SUCCESS, ERROR_SUCCESS, 1, 1, ERROR_SUCCESS, 1}));
    EXPECT_EQ(PragmaOf(StorePath(), "PRAGMA user_version"), "1") << "a reader changes nothing";
}

// A store this build made, opened afresh by another process.
TEST_F(RegStore, Layout2StoreOpensInAnotherProcess) {
    {
        UniqueHkey key = Create(u"Old");
        ASSERT_EQ(SetBytes(key.get(), u"a", REG_BINARY, {0xAA}), ERROR_SUCCESS);
        ASSERT_EQ(SetBytes(key.get(), u"b", REG_BINARY, {0xBB}), ERROR_SUCCESS);
    }
    std::vector<LONG> results = RunInChild(
        [](std::vector<LONG>& out) {
            HKEY key = nullptr;
            out.push_back(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"old", 0, KEY_READ, &key));
            DWORD type = 0;
            std::vector<BYTE> data;
            out.push_back(GetBytes(key, u"B", type, data));
            out.push_back(static_cast<LONG>(data == std::vector<BYTE>{0xBB}));
            out.push_back(static_cast<LONG>(ValueNames(key) == std::vector<std::u16string>{u"a", u"b"}));
            RegCloseKey(key);
            out.push_back(platform::RegistrySetValue(HKEY_LOCAL_MACHINE, u"Old", u"c", REG_BINARY,
                                                     std::vector<BYTE>{0xCC}.data(), 1));
        },
        /*dropToNobody=*/false);
    EXPECT_EQ(results, (std::vector<LONG>{ERROR_SUCCESS, ERROR_SUCCESS, 1, 1, ERROR_SUCCESS}));
    UniqueHkey key = Create(u"Old");
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"a", u"b", u"c"})) << "the child's write";
}

TEST_F(RegStore, NewerLayoutIsBadDatabase) {
    MakeLayout1Store(StorePath(), /*version=*/3);
    ExpectRefusedWithFileIntact(StorePath(), ERROR_BADDB);
}

// The layout other readers rely on: names as given (UTF-16LE), folded names
// upper-cased big-endian, values in their key with type, bytes and order.
TEST_F(RegStore, LayoutMatchesTheFormatPage) {
    {
        UniqueHkey key = Create(u"Soft\\Äb");
        ASSERT_EQ(SetBytes(key.get(), u"nAme", REG_SZ, Utf16Bytes(u"x", false)), ERROR_SUCCESS);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(StorePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    auto text = [&](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        std::string result;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
            const unsigned char* value = sqlite3_column_text(stmt, 0);
            result = value != nullptr ? reinterpret_cast<const char*>(value) : "";
        }
        sqlite3_finalize(stmt);
        return result;
    };
    EXPECT_EQ(text("PRAGMA application_id"), "1297237809");
    EXPECT_EQ(text("PRAGMA user_version"), "2");
    EXPECT_EQ(text("PRAGMA journal_mode"), "wal");
    EXPECT_EQ(text("SELECT hex(name) || ':' || hex(folded) FROM keys WHERE parent ="
                   " (SELECT id FROM keys WHERE parent = 1)"),
              "C4006200:00C40042");
    EXPECT_EQ(text("SELECT hex(v.name) || ':' || hex(v.folded) || ':' || v.type || ':' || hex(v.data) || ':' || v.seq"
                   " FROM vals v JOIN keys k ON k.id = v.key WHERE k.folded = x'00C40042' AND v.seq > 0"),
              "6E0041006D006500:004E0041004D0045:1:7800:1");
    // The key's time row, set by the value write after the key was made.
    EXPECT_EQ(text("SELECT hex(v.name) || ':' || hex(v.data) || ':' || v.seq || ':' || (v.type >= k.written)"
                   " FROM vals v JOIN keys k ON k.id = v.key WHERE k.folded = x'00C40042' AND v.folded = x'00'"),
              "::0:1");
    EXPECT_EQ(text("PRAGMA integrity_check"), "ok");
    sqlite3_close(db);
}

}  // namespace
