// A thread answers registry reads from its cache while the store's WAL-index
// header is unchanged. These tests write behind a warm cache in every way the
// store can be written and check that the very next read sees the write.
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <iterator>
#include <thread>

#include "registry_fixture.h"

namespace registry_test {
namespace {

constexpr char16_t kKey[] = u"Software\\Cache\\Device";

DWORD ReadNumber(const char16_t* name, LONG& status) {
    DWORD number = 0;
    DWORD size = sizeof number;
    status = platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, kKey, name, nullptr, reinterpret_cast<BYTE*>(&number),
                                          &size);
    return number;
}

DWORD Number(const char16_t* name) {
    LONG status = ERROR_SUCCESS;
    DWORD number = ReadNumber(name, status);
    EXPECT_EQ(status, ERROR_SUCCESS) << "reading a number";
    return number;
}

void PutNumber(HKEY key, const char16_t* name, DWORD number) {
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number),
              ERROR_SUCCESS);
}

// Runs write in a forked child (which makes its own store connection) and
// waits for it; the write is complete when this returns.
void WriteInChild(const std::function<bool()>& write) {
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) ::_exit(write() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writing child failed";
}

class ReadCacheTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        key_ = Create(kKey);
        PutNumber(key_.get(), u"Count", 1);
        PutNumber(key_.get(), u"Other", 7);
        // Warm this thread's cache with every kind of answer.
        Warm();
    }

    void TearDown() override {
        key_.reset();
        RegistryTest::TearDown();
    }

    void Warm() {
        LONG status = ERROR_SUCCESS;
        ReadNumber(u"Count", status);
        ReadNumber(u"Missing", status);
        ValueNames(key_.get());
        platform::UniqueHkey parent = Create(u"Software\\Cache");
        SubkeyNames(parent.get());
        DWORD values = 0;
        RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
    }

    platform::UniqueHkey key_;
};

TEST_F(ReadCacheTest, WritesOfAnotherProcessAreSeenAtOnce) {
    // Each case: a write made by another process through the registry, and
    // what this thread must read right after it.
    struct Case {
        const char* what;
        std::function<bool()> write;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"changed value",
         [] {
             DWORD n = 2;
             return platform::RegistrySetValue(HKEY_LOCAL_MACHINE, kKey, u"Count", REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&n), sizeof n) == ERROR_SUCCESS;
         },
         [] { EXPECT_EQ(Number(u"Count"), 2u); }},
        {"new value",
         [] {
             DWORD n = 5;
             return platform::RegistrySetValue(HKEY_LOCAL_MACHINE, kKey, u"Missing", REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&n), sizeof n) == ERROR_SUCCESS;
         },
         [this] {
             EXPECT_EQ(Number(u"Missing"), 5u);
             EXPECT_EQ(ValueNames(key_.get()), (std::vector<std::u16string>{u"Count", u"Other", u"Missing"}));
         }},
        {"deleted value",
         [] {
             platform::UniqueHkey key;
             return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS &&
                    RegDeleteValueW(key.get(), u"Other") == ERROR_SUCCESS;
         },
         [this] {
             LONG status = ERROR_SUCCESS;
             ReadNumber(u"Other", status);
             EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
             EXPECT_EQ(ValueNames(key_.get()), (std::vector<std::u16string>{u"Count", u"Missing"}));
         }},
        {"new sibling key",
         [] {
             platform::UniqueHkey key;
             return RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Cache\\Another", 0, nullptr, 0, KEY_READ,
                                    nullptr, key.put(), nullptr) == ERROR_SUCCESS;
         },
         [this] {
             platform::UniqueHkey parent = Create(u"Software\\Cache");
             EXPECT_EQ(SubkeyNames(parent.get()), (std::vector<std::u16string>{u"Another", u"Device"}));
         }},
        {"deleted key",
         [] { return RegDeleteTreeW(HKEY_LOCAL_MACHINE, kKey) == ERROR_SUCCESS; },
         [this] {
             LONG status = ERROR_SUCCESS;
             ReadNumber(u"Count", status);
             EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
             // The handle opened before names a key that is gone.
             DWORD values = 0;
             EXPECT_EQ(RegQueryInfoKeyW(key_.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr),
                       ERROR_KEY_DELETED);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteInChild(c.write);
        c.check();
        if (&c != &cases[std::size(cases) - 1]) Warm();  // the last case deleted the key
    }
}

TEST_F(ReadCacheTest, WriteThroughBareSqliteIsSeenAtOnce) {
    // Another program writing the file with SQLite alone, not through the
    // registry: the cache hears of it through the WAL index all the same.
    WriteInChild([this] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(StorePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return false;
        sqlite3_busy_timeout(db, 5000);
        const DWORD n = 42;
        sqlite3_stmt* update = nullptr;
        bool ok = sqlite3_prepare_v2(db, "UPDATE vals SET data = ?1 WHERE folded = ?2", -1, &update, nullptr) ==
                  SQLITE_OK;
        const char folded[] = {0, 'C', 0, 'O', 0, 'U', 0, 'N', 0, 'T'};
        ok = ok && sqlite3_bind_blob(update, 1, &n, sizeof n, SQLITE_STATIC) == SQLITE_OK &&
             sqlite3_bind_blob(update, 2, folded, sizeof folded, SQLITE_STATIC) == SQLITE_OK &&
             sqlite3_step(update) == SQLITE_DONE && sqlite3_changes(db) == 1;
        sqlite3_finalize(update);
        sqlite3_close(db);
        return ok;
    });
    EXPECT_EQ(Number(u"Count"), 42u);
}

TEST_F(ReadCacheTest, WriteOfAnotherThreadIsSeenAtOnce) {
    for (DWORD n = 2; n < 50; ++n) {
        std::thread writer([&] { PutNumber(key_.get(), u"Count", n); });
        writer.join();
        ASSERT_EQ(Number(u"Count"), n);
    }
}

TEST_F(ReadCacheTest, ReaderNeverGoesBackWhileAnotherProcessCounts) {
    // A child counts up as fast as it can; every read here must be at least
    // the one before, and the read after the child ends must be its last.
    constexpr DWORD kLast = 3000;
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        platform::UniqueHkey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) ::_exit(1);
        for (DWORD n = 2; n <= kLast; ++n) {
            if (RegSetValueExW(key.get(), u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n) !=
                ERROR_SUCCESS)
                ::_exit(1);
        }
        ::_exit(0);
    }
    DWORD seen = 1;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        DWORD now = Number(u"Count");
        ASSERT_GE(now, seen);
        seen = now;
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Number(u"Count"), kLast);
}

TEST_F(ReadCacheTest, QueryValueByPathMatchesOpenThenQuery) {
    std::vector<BYTE> text = Utf16Bytes(u"abc", false);  // no terminator stored
    ASSERT_EQ(SetBytes(key_.get(), u"Text", REG_SZ, text), ERROR_SUCCESS);
    // Cases: value name, buffer size offered; the pair's answers are the reference.
    struct Case {
        const char16_t* name;
        DWORD capacity;
        bool withData;
    };
    for (Case c : {Case{u"Text", 64, true}, Case{u"Text", 6, true}, Case{u"Text", 4, true}, Case{u"Text", 0, false},
                   Case{u"Missing", 64, true}, Case{u"Missing", 64, false}, Case{nullptr, 64, true}}) {
        SCOPED_TRACE(c.capacity);
        BYTE pairData[64], pathData[64];
        std::memset(pairData, 0xCC, sizeof pairData);
        std::memset(pathData, 0xCC, sizeof pathData);
        DWORD pairSize = c.capacity, pathSize = c.capacity, pairType = 99, pathType = 99;
        platform::UniqueHkey key;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, key.put()), ERROR_SUCCESS);
        LONG pair = RegQueryValueExW(key.get(), c.name, nullptr, &pairType, c.withData ? pairData : nullptr, &pairSize);
        LONG path = platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, kKey, c.name, &pathType,
                                                 c.withData ? pathData : nullptr, &pathSize);
        EXPECT_EQ(path, pair);
        EXPECT_EQ(pathSize, pairSize);
        EXPECT_EQ(pathType, pairType);
        EXPECT_EQ(std::memcmp(pathData, pairData, sizeof pairData), 0);
    }
    DWORD size = 4, untouched = 0xABCD;
    EXPECT_EQ(platform::RegistryQueryValue(HKEY_LOCAL_MACHINE, u"Software\\Nowhere", u"Count", nullptr,
                                           reinterpret_cast<BYTE*>(&untouched), &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(untouched, 0xABCDu);
    EXPECT_EQ(size, 4u);
}

TEST_F(ReadCacheTest, SetValueByPathCreatesTheKeyAndKeepsItWhenTheValueIsRefused) {
    const DWORD n = 9;
    EXPECT_EQ(platform::RegistrySetValue(HKEY_LOCAL_MACHINE, u"Software\\New\\Key", u"N", REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&n), sizeof n),
              ERROR_SUCCESS);
    LONG status = ERROR_SUCCESS;
    platform::UniqueHkey made = Open(u"Software\\New\\Key", KEY_READ, status);
    ASSERT_EQ(status, ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> bytes;
    ASSERT_EQ(GetBytes(made.get(), u"N", type, bytes), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(bytes, (std::vector<BYTE>{9, 0, 0, 0}));

    // A value name past the limit is refused as RegSetValueExW refuses it,
    // after the key was made, as RegCreateKeyExW would have made it.
    std::u16string longName(16384, u'x');
    EXPECT_EQ(platform::RegistrySetValue(HKEY_LOCAL_MACHINE, u"Software\\Refused", longName.c_str(), REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&n), sizeof n),
              ERROR_INVALID_PARAMETER);
    platform::UniqueHkey refused = Open(u"Software\\Refused", KEY_READ, status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(refused.get()), std::vector<std::u16string>{});
}

}  // namespace
}  // namespace registry_test
