// The Reg* functions against the platform's documented and tested behaviour:
// paths and case, the root handle, creating, value data and buffer sizes,
// enumeration order and capacities, key information, deleting trees,
// handles of deleted keys, access rights, device roots.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>

#include "registry_fixture.h"

using namespace registry_test;
using platform::UniqueHkey;

namespace {

const std::vector<BYTE> kFoobar = Utf16Bytes(u"foobar", true);  // 14 bytes
const char16_t kEmbedded[] = u"Software\\OEM\\Test\0\\Nope";

class RegApi : public RegistryTest {};

// ---------------------------------------------------------------- paths

TEST_F(RegApi, PathsNameTheSameKeyRegardlessOfCaseAndSeparators) {
    UniqueHkey key = Create(u"Software\\OEM\\Test");
    ASSERT_EQ(SetBytes(key.get(), u"marker", REG_BINARY, {7}), ERROR_SUCCESS);
    std::u16string tooLong(256, u'k');
    struct Case {
        const char* what;
        std::u16string path;
        LONG expected;
    } cases[] = {
        {"exact", u"Software\\OEM\\Test", ERROR_SUCCESS},
        {"other case", u"sOFTWARE\\oem\\tEsT", ERROR_SUCCESS},
        {"one trailing backslash", u"Software\\OEM\\Test\\", ERROR_SUCCESS},
        {"two trailing backslashes", u"Software\\OEM\\Test\\\\", ERROR_SUCCESS},
        {"doubled separators", u"Software\\\\OEM\\\\\\Test", ERROR_SUCCESS},
        {"text after an embedded NUL is not read", std::u16string(kEmbedded, std::size(kEmbedded) - 1),
         ERROR_SUCCESS},
        {"leading backslash", u"\\Software\\OEM\\Test", ERROR_BAD_PATHNAME},
        {"missing last component", u"Software\\OEM\\Missing", ERROR_FILE_NOT_FOUND},
        {"missing middle component", u"Software\\Nope\\Test", ERROR_FILE_NOT_FOUND},
        {"component of 255 characters", u"Software\\" + std::u16string(255, u'k'), ERROR_FILE_NOT_FOUND},
        {"component of 256 characters", u"Software\\" + tooLong, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UniqueHkey opened;
        HKEY raw = reinterpret_cast<HKEY>(uintptr_t{0x1234});  // must be overwritten
        LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, KEY_READ, &raw);
        opened.reset(raw);
        EXPECT_EQ(status, c.expected);
        if (c.expected != ERROR_SUCCESS) {
            EXPECT_EQ(raw, nullptr);
            continue;
        }
        DWORD type = 0;
        std::vector<BYTE> data;
        EXPECT_EQ(GetBytes(opened.get(), u"marker", type, data), ERROR_SUCCESS);
        EXPECT_EQ(data, std::vector<BYTE>{7});
    }
}

TEST_F(RegApi, CreateRefusesWhatOpenRefusesAndCreatesNothing) {
    std::u16string tooLong = u"A\\" + std::u16string(256, u'x');
    for (const std::u16string& path : {std::u16string(u"\\Lead"), tooLong}) {
        HKEY key = HKEY_LOCAL_MACHINE;
        DWORD disposition = 99;
        LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                      &disposition);
        EXPECT_NE(status, ERROR_SUCCESS);
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty()) << "a refused path left a key behind";
}

TEST_F(RegApi, NonAsciiNamesFoldUnitByUnit) {
    UniqueHkey key = Create(u"Grüße\\ÆØÅ");
    LONG status = ERROR_SUCCESS;
    UniqueHkey upper = Open(u"GRÜSSE\\æøå", KEY_READ, status);  // ß does not fold to SS
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    UniqueHkey folded = Open(u"GRÜßE\\æøå", KEY_READ, status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"Ärger", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(key.get(), u"äRGER", type, data), ERROR_SUCCESS);
}

// ------------------------------------------------------------- handles

TEST_F(RegApi, RootHandleAndHandleErrors) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(key, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS) << "closing the root is always harmless";

    key = HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegOpenKeyExW(nullptr, u"", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    HKEY currentUser = reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<intptr_t>(int32_t(0x80000001))));
    EXPECT_EQ(RegOpenKeyExW(currentUser, u"", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(uintptr_t{0xdeadbeef})), ERROR_INVALID_HANDLE);

    UniqueHkey made = Create(u"A");
    HKEY first = nullptr, second = nullptr;
    ASSERT_EQ(RegOpenKeyExW(made.get(), u"", 0, KEY_READ, &first), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(made.get(), nullptr, 0, KEY_READ, &second), ERROR_SUCCESS);
    EXPECT_NE(first, made.get());
    EXPECT_NE(first, second);
    EXPECT_EQ(platform::RegistryOpenHandleCount(), 3u);
    EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE) << "closed twice";
    EXPECT_EQ(RegQueryInfoKeyW(first, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE)
        << "a closed handle must not reach its old key";
    // The slot of the closed handle is reused; the old value must stay dead.
    HKEY third = nullptr;
    ASSERT_EQ(RegOpenKeyExW(made.get(), u"", 0, KEY_READ, &third), ERROR_SUCCESS);
    EXPECT_NE(third, first);
    EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(second), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(third), ERROR_SUCCESS);
}

// -------------------------------------------------------------- create

TEST_F(RegApi, CreateMakesIntermediateKeysAndReportsDisposition) {
    DWORD disposition = 0;
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM\\Morvala\\Devices\\", 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    LONG status = ERROR_SUCCESS;
    Open(u"Software\\OEM", KEY_READ, status);
    EXPECT_EQ(status, ERROR_SUCCESS) << "intermediate key";

    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\oem\\MORVALA\\devices", 0, nullptr, 0, KEY_WRITE,
                              nullptr, key.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    // Only the last component new: still a new key.
    UniqueHkey device;
    ASSERT_EQ(RegCreateKeyExW(key.get(), u"Dev1", 0, nullptr, 0, KEY_READ, nullptr, device.put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

    // The first spelling is the one kept and listed.
    UniqueHkey software = Open(u"software", KEY_READ, status);
    EXPECT_EQ(SubkeyNames(software.get()), std::vector<std::u16string>{u"OEM"});

    HKEY root = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"", 0, nullptr, 0, KEY_WRITE, nullptr, &root, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 1, nullptr, 0, KEY_WRITE, nullptr, &root, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(root, nullptr);
}

// ------------------------------------------------------- values: set/query

TEST_F(RegApi, StoresExactlyTheBytesGiven) {
    UniqueHkey key = Create(u"V");
    std::vector<BYTE> unterminated = Utf16Bytes(u"1.2", false);
    std::vector<BYTE> embedded = Utf16Bytes(std::u16string_view(u"This\0Breaks\0\0A", 14), true);
    struct Case {
        const char* name;
        const char16_t* valueName;
        DWORD type;
        std::vector<BYTE> bytes;
    } cases[] = {
        {"terminated REG_SZ", u"sz", REG_SZ, kFoobar},
        {"REG_SZ without terminator keeps its count", u"version", REG_SZ, unterminated},
        {"odd-sized REG_SZ", u"odd", REG_SZ, {0x41}},
        {"empty REG_SZ", u"empty", REG_SZ, {}},
        {"embedded NULs", u"embedded", REG_MULTI_SZ, embedded},
        {"REG_DWORD", u"dword", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"REG_BINARY", u"bin", REG_BINARY, {1, 2, 3, 0, 5}},
        {"any type number", u"custom", 0x12345, {9}},
        {"default value by NULL name", nullptr, REG_SZ, Utf16Bytes(u"def", true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(SetBytes(key.get(), c.valueName, c.type, c.bytes), ERROR_SUCCESS);
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_EQ(GetBytes(key.get(), c.valueName, type, data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.bytes);
    }
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(key.get(), u"", type, data), ERROR_SUCCESS) << "the default value answers to the empty name";
    EXPECT_EQ(data, Utf16Bytes(u"def", true));
    EXPECT_EQ(GetBytes(key.get(), u"SZ", type, data), ERROR_SUCCESS) << "value names ignore case";
    EXPECT_EQ(RegSetValueExW(key.get(), u"nodata", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(GetBytes(key.get(), u"nodata", type, data), ERROR_SUCCESS);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(RegSetValueExW(key.get(), u"bad", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExW(key.get(), u"bad", 0, REG_BINARY, reinterpret_cast<const BYTE*>(uintptr_t{16}), 4),
              ERROR_NOACCESS);
    EXPECT_EQ(GetBytes(key.get(), u"bad", type, data), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegApi, QueryBufferSizes) {
    UniqueHkey key = Create(u"Q");
    ASSERT_EQ(SetBytes(key.get(), u"term", REG_SZ, kFoobar), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"bare", REG_SZ, Utf16Bytes(u"foobar", false)), ERROR_SUCCESS);  // 12 bytes
    ASSERT_EQ(SetBytes(key.get(), u"bin", REG_BINARY, {1, 2, 3, 4}), ERROR_SUCCESS);
    struct Case {
        const char* what;
        const char16_t* name;
        DWORD capacity;
        LONG expected;
        DWORD expectedSize;
        size_t bytesWritten;  // bytes of the buffer that may change, NUL included
    } cases[] = {
        {"fits", u"term", 100, ERROR_SUCCESS, 14, 14},
        {"exact size", u"term", 14, ERROR_SUCCESS, 14, 14},
        {"too small: untouched", u"term", 13, ERROR_MORE_DATA, 14, 0},
        {"unterminated, room for a NUL: appended, not counted", u"bare", 100, ERROR_SUCCESS, 12, 14},
        {"unterminated, exactly 2 spare bytes", u"bare", 14, ERROR_SUCCESS, 12, 14},
        {"unterminated, 1 spare byte: no NUL", u"bare", 13, ERROR_SUCCESS, 12, 12},
        {"unterminated, no room: no NUL", u"bare", 12, ERROR_SUCCESS, 12, 12},
        {"binary: nothing appended", u"bin", 100, ERROR_SUCCESS, 4, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<BYTE> buffer(100, 0xAB);
        DWORD size = c.capacity, type = 0;
        EXPECT_EQ(RegQueryValueExW(key.get(), c.name, nullptr, &type, buffer.data(), &size), c.expected);
        EXPECT_EQ(size, c.expectedSize);
        EXPECT_NE(type, 0u);
        for (size_t i = c.bytesWritten; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xAB) << "byte " << i;
        if (c.bytesWritten > c.expectedSize) {
            EXPECT_EQ(buffer[c.expectedSize], 0);
            EXPECT_EQ(buffer[c.expectedSize + 1], 0);
        }
    }

    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"term", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(RegQueryValueExW(key.get(), u"term", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);

    size = 77;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u) << "size query of a missing value";
    BYTE buffer[8];
    size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"missing", nullptr, nullptr, buffer, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, sizeof buffer) << "with a buffer the size is left alone";

    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExW(key.get(), u"term", &reserved, nullptr, nullptr, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key.get(), u"term", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegApi, ValueNameLimits) {
    UniqueHkey key = Create(u"Names");
    std::u16string longest(16383, u'n'), tooLong(16384, u'n');
    EXPECT_EQ(SetBytes(key.get(), longest.c_str(), REG_BINARY, {1}), ERROR_SUCCESS);
    EXPECT_EQ(SetBytes(key.get(), tooLong.c_str(), REG_BINARY, {1}), ERROR_INVALID_PARAMETER);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(key.get(), longest.c_str(), type, data), ERROR_SUCCESS);
    EXPECT_EQ(GetBytes(key.get(), tooLong.c_str(), type, data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key.get(), tooLong.c_str()), ERROR_FILE_NOT_FOUND);
    DWORD maxName = 0;
    EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(maxName, 16383u);
}

TEST_F(RegApi, DeleteValue) {
    UniqueHkey key = Create(u"D");
    ASSERT_EQ(SetBytes(key.get(), u"", REG_SZ, kFoobar), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"x", REG_SZ, kFoobar), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key.get(), u"X"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key.get(), u"x"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key.get(), nullptr), ERROR_SUCCESS) << "the default value";
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(key.get(), u"", type, data), ERROR_FILE_NOT_FOUND);
}

// ------------------------------------------------------------ enumeration

TEST_F(RegApi, ValuesEnumerateInFirstSetOrder) {
    UniqueHkey key = Create(u"Order");
    for (const char16_t* name : {u"A", u"C", u"D", u"B"}) ASSERT_EQ(SetBytes(key.get(), name, REG_SZ, kFoobar), 0);
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"A", u"C", u"D", u"B"}));
    ASSERT_EQ(SetBytes(key.get(), u"c", REG_DWORD, {1, 0, 0, 0}), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"A", u"C", u"D", u"B"}))
        << "replacing keeps the slot and the first spelling";
    ASSERT_EQ(RegDeleteValueW(key.get(), u"A"), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"A", REG_SZ, kFoobar), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ, kFoobar.data(), 14), ERROR_SUCCESS);
    EXPECT_EQ(ValueNames(key.get()), (std::vector<std::u16string>{u"C", u"D", u"B", u"A", u""}));
}

TEST_F(RegApi, EnumValueCapacities) {
    UniqueHkey key = Create(u"Enum");
    ASSERT_EQ(SetBytes(key.get(), u"Test", REG_SZ, kFoobar), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"Bare", REG_SZ, Utf16Bytes(u"ab", false)), ERROR_SUCCESS);
    ASSERT_EQ(SetBytes(key.get(), u"Zero", REG_BINARY, {}), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_DWORD, kFoobar.data(), 4), ERROR_SUCCESS);
    struct Case {
        const char* what;
        DWORD index;
        DWORD nameCapacity;
        DWORD dataCapacity;  // 0: no data buffer
        LONG expected;
        DWORD expectedChars;
        DWORD expectedSize;
        bool nameWritten;
        size_t dataWritten;
    } cases[] = {
        {"all fits", 0, 5, 100, ERROR_SUCCESS, 4, 14, true, 14},
        {"name one short: both untouched", 0, 4, 100, ERROR_MORE_DATA, 4, 14, false, 0},
        {"name far too short", 0, 2, 100, ERROR_MORE_DATA, 2, 14, false, 0},
        {"name fits, data short: name written", 0, 5, 2, ERROR_MORE_DATA, 4, 14, true, 0},
        {"no data buffer: size only", 0, 5, 0, ERROR_SUCCESS, 4, 14, true, 0},
        {"unterminated string: NUL appended, not counted", 1, 5, 100, ERROR_SUCCESS, 4, 4, true, 6},
        {"zero-length binary", 2, 5, 100, ERROR_SUCCESS, 4, 0, true, 0},
        {"default value: empty name", 3, 1, 100, ERROR_SUCCESS, 0, 4, true, 4},
        {"default value needs room for the NUL", 3, 0, 100, ERROR_MORE_DATA, 0, 4, false, 0},
        {"past the end", 4, 5, 100, ERROR_NO_MORE_ITEMS, 5, 100, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WCHAR name[8];
        std::fill(std::begin(name), std::end(name), u'#');
        std::vector<BYTE> data(100, 0xAB);
        DWORD chars = c.nameCapacity, size = c.dataCapacity, type = 0;
        LONG status = RegEnumValueW(key.get(), c.index, name, &chars, nullptr, &type,
                                    c.dataCapacity != 0 ? data.data() : nullptr, &size);
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(chars, c.expectedChars);
        EXPECT_EQ(size, c.expectedSize);
        EXPECT_EQ(name[0] != u'#', c.nameWritten);
        if (c.nameWritten) {
            EXPECT_EQ(name[chars], u'\0');
        }
        for (size_t i = c.dataWritten; i < data.size(); ++i) ASSERT_EQ(data[i], 0xAB) << "byte " << i;
    }
    DWORD chars = 5;
    WCHAR name[5];
    EXPECT_EQ(RegEnumValueW(key.get(), 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegEnumValueW(key.get(), 0, name, nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegApi, SubkeysEnumerateInUpcasedOrder) {
    UniqueHkey key = Create(u"Devices");
    for (const char16_t* name : {u"b", u"_x", u"A_", u"aa", u"a", u"AB"}) Create(std::u16string(u"Devices\\") + name);
    // Upper-cased unit order: 'A' (41) < 'B' (42) < '_' (5F); a prefix sorts first.
    EXPECT_EQ(SubkeyNames(key.get()), (std::vector<std::u16string>{u"a", u"aa", u"AB", u"A_", u"b", u"_x"}));

    WCHAR name[4] = {u'#', u'#', u'#', u'#'};
    DWORD chars = 2;  // "aa" needs 3
    FILETIME written{};
    EXPECT_EQ(RegEnumKeyExW(key.get(), 1, name, &chars, nullptr, nullptr, nullptr, &written), ERROR_MORE_DATA);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(name[0], u'#');
    chars = 3;
    EXPECT_EQ(RegEnumKeyExW(key.get(), 1, name, &chars, nullptr, nullptr, nullptr, &written), ERROR_SUCCESS);
    EXPECT_EQ(chars, 2u);
    EXPECT_EQ(std::u16string(name), u"aa");
    EXPECT_NE(written.dwHighDateTime, 0u);
    EXPECT_EQ(RegEnumKeyExW(key.get(), 6, name, &chars, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyExW(key.get(), 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegApi, QueryInfoKey) {
    UniqueHkey key = Create(u"Info");
    DWORD subkeys = 9, maxSubkey = 9, values = 9, maxName = 9, maxData = 9, maxClass = 9, security = 9;
    FILETIME written{};
    auto query = [&] {
        return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, &maxSubkey, &maxClass, &values,
                                &maxName, &maxData, &security, &written);
    };
    ASSERT_EQ(query(), ERROR_SUCCESS);
    EXPECT_EQ(subkeys + maxSubkey + values + maxName + maxData, 0u) << "empty key";
    EXPECT_NE(written.dwLowDateTime | written.dwHighDateTime, 0u);

    ASSERT_EQ(RegSetValueExW(key.get(), nullptr, 0, REG_SZ, kFoobar.data(), 14), ERROR_SUCCESS);
    ASSERT_EQ(query(), ERROR_SUCCESS);
    EXPECT_EQ(values, 1u) << "the default value counts";
    EXPECT_EQ(maxName, 0u);
    EXPECT_EQ(maxData, 14u);

    ASSERT_EQ(SetBytes(key.get(), u"Longer", REG_BINARY, std::vector<BYTE>(40, 1)), ERROR_SUCCESS);
    Create(u"Info\\Sub");
    Create(u"Info\\LongestSub\\Deeper");
    ASSERT_EQ(query(), ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u) << "direct subkeys only";
    EXPECT_EQ(maxSubkey, 10u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 6u);
    EXPECT_EQ(maxData, 40u);
    EXPECT_EQ(maxClass, 0u);

    EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegQueryInfoKeyW(nullptr, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

// ------------------------------------------------------------ delete tree

TEST_F(RegApi, DeleteTree) {
    auto fill = [&] {
        UniqueHkey top = Create(u"T");
        EXPECT_EQ(SetBytes(top.get(), nullptr, REG_SZ, kFoobar), ERROR_SUCCESS);
        UniqueHkey sub = Create(u"T\\sub");
        EXPECT_EQ(SetBytes(sub.get(), u"v", REG_SZ, kFoobar), ERROR_SUCCESS);
        UniqueHkey deeper = Create(u"T\\sub\\sub2\\sub3");
        EXPECT_EQ(SetBytes(deeper.get(), u"w", REG_SZ, kFoobar), ERROR_SUCCESS);
        return top;
    };
    LONG status = ERROR_SUCCESS;
    {
        UniqueHkey top = fill();
        EXPECT_EQ(RegDeleteTreeW(top.get(), u"sub\\sub2"), ERROR_SUCCESS);
        Open(u"T\\sub\\sub2", KEY_READ, status);
        EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
        UniqueHkey sub = Open(u"T\\sub", KEY_READ, status);
        EXPECT_EQ(ValueNames(sub.get()), std::vector<std::u16string>{u"v"}) << "the parent keeps its values";
    }
    {
        UniqueHkey top = fill();
        EXPECT_EQ(RegDeleteTreeW(top.get(), nullptr), ERROR_SUCCESS);
        EXPECT_TRUE(SubkeyNames(top.get()).empty());
        EXPECT_TRUE(ValueNames(top.get()).empty()) << "the default value goes too";
        Open(u"T", KEY_READ, status);
        EXPECT_EQ(status, ERROR_SUCCESS) << "the key itself stays";
    }
    {
        UniqueHkey top = fill();
        EXPECT_EQ(RegDeleteTreeW(top.get(), u""), ERROR_SUCCESS);
        EXPECT_TRUE(SubkeyNames(top.get()).empty());
    }
    fill();
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"t\\"), ERROR_SUCCESS);
    Open(u"T", KEY_READ, status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"T"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"\\T"), ERROR_BAD_PATHNAME);
    // A new key at the old path starts empty: nothing of the old tree resurfaces.
    UniqueHkey again = Create(u"T\\sub");
    EXPECT_TRUE(ValueNames(again.get()).empty());
    EXPECT_TRUE(SubkeyNames(again.get()).empty());
}

// ------------------------------------------------------- deleted key handles

// Every call through a handle whose key is gone, with what it must answer.
void ExpectAllKeyDeleted(HKEY key) {
    WCHAR name[16];
    DWORD chars = 16, size = 16;
    BYTE data[16];
    HKEY out = nullptr;
    const std::pair<const char*, std::function<LONG()>> calls[] = {
        {"query value", [&] { return RegQueryValueExW(key, u"v", nullptr, nullptr, data, &size); }},
        {"query missing value", [&] { return RegQueryValueExW(key, u"zz", nullptr, nullptr, data, &size); }},
        {"set value", [&] { return RegSetValueExW(key, u"v", 0, REG_BINARY, data, 1); }},
        {"delete value", [&] { return RegDeleteValueW(key, u"v"); }},
        {"enum value", [&] { return RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr); }},
        {"enum key", [&] { return RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr); }},
        {"open subkey", [&] { return RegOpenKeyExW(key, u"sub", 0, KEY_READ, &out); }},
        {"open itself", [&] { return RegOpenKeyExW(key, u"", 0, KEY_READ, &out); }},
        {"create subkey",
         [&] { return RegCreateKeyExW(key, u"new", 0, nullptr, 0, KEY_WRITE, nullptr, &out, nullptr); }},
        {"query info",
         [&] {
             return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
         }},
        {"delete own tree", [&] { return RegDeleteTreeW(key, nullptr); }},
        {"delete subtree", [&] { return RegDeleteTreeW(key, u"sub"); }},
        {"flush", [&] { return RegFlushKey(key); }},
    };
    for (const auto& [what, call] : calls) {
        EXPECT_EQ(call(), ERROR_KEY_DELETED) << what;
        EXPECT_EQ(out, nullptr) << what;
    }
}

TEST_F(RegApi, HandleOfDeletedKeyAnswersKeyDeleted) {
    UniqueHkey key = Create(u"Gone\\Here");
    ASSERT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);
    Create(u"Gone\\Here\\sub");
    ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Gone"), ERROR_SUCCESS);
    ExpectAllKeyDeleted(key.get());
    // A key made again at the same path is another key.
    UniqueHkey again = Create(u"Gone\\Here\\sub");
    ExpectAllKeyDeleted(key.get());
    EXPECT_EQ(RegCloseKey(key.release()), ERROR_SUCCESS) << "closing still works";
}

TEST_F(RegApi, KeyDeletedByAnotherProcess) {
    UniqueHkey key = Create(u"Shared\\Victim");
    ASSERT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);
    std::vector<LONG> results = RunInChild(
        [](std::vector<LONG>& out) { out.push_back(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Shared\\Victim")); }, false);
    ASSERT_EQ(results, std::vector<LONG>{ERROR_SUCCESS});
    ExpectAllKeyDeleted(key.get());
}

// ------------------------------------------------------------- access rights

TEST_F(RegApi, AccessRightsAreCheckedPerHandle) {
    Create(u"Acc\\Child");
    LONG status = ERROR_SUCCESS;
    struct Case {
        REGSAM access;
        LONG set, query, enumValue, enumKey, deleteValue, info;
    } cases[] = {
        {KEY_READ, ERROR_ACCESS_DENIED, 0, 0, 0, ERROR_ACCESS_DENIED, 0},
        {KEY_WRITE, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 0},
        {KEY_SET_VALUE, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0, 0},
        {KEY_QUERY_VALUE, ERROR_ACCESS_DENIED, 0, 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0},
        {KEY_ENUMERATE_SUB_KEYS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 0,
         ERROR_ACCESS_DENIED, 0},
        {KEY_NOTIFY, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED,
         ERROR_ACCESS_DENIED, 0},
        {KEY_ALL_ACCESS, 0, 0, 0, 0, 0, 0},
        {GENERIC_READ, ERROR_ACCESS_DENIED, 0, 0, 0, ERROR_ACCESS_DENIED, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "access 0x" << std::hex << c.access);
        {
            UniqueHkey full = Create(u"Acc");
            ASSERT_EQ(SetBytes(full.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);
        }
        UniqueHkey key = Open(u"Acc", c.access, status);
        ASSERT_EQ(status, ERROR_SUCCESS);
        BYTE data[4];
        DWORD size = sizeof data;
        WCHAR name[8];
        DWORD chars = 8;
        EXPECT_EQ(RegSetValueExW(key.get(), u"v", 0, REG_BINARY, data, 1), c.set);
        EXPECT_EQ(RegQueryValueExW(key.get(), u"v", nullptr, nullptr, data, &size), c.query);
        EXPECT_EQ(RegEnumValueW(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr), c.enumValue);
        chars = 8;
        EXPECT_EQ(RegEnumKeyExW(key.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr), c.enumKey);
        EXPECT_EQ(RegDeleteValueW(key.get(), u"v"), c.deleteValue);
        EXPECT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr),
                  c.info);
        // Opening or creating below a handle does not consult its rights.
        UniqueHkey child;
        EXPECT_EQ(RegCreateKeyExW(key.get(), u"Child", 0, nullptr, 0, KEY_WRITE, nullptr, child.put(), nullptr),
                  ERROR_SUCCESS);
    }
}

// ------------------------------------------------------------- device roots

TEST_F(RegApi, StoreFollowsTheDeviceRoot) {
    UniqueHkey inFirst = Create(u"OnlyInFirst");
    ASSERT_EQ(SetBytes(inFirst.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);

    char pattern[] = "/tmp/morvala-registry-second-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    std::string first = Root(), second = pattern;
    ::setenv("MORVALA_ROOT", second.c_str(), 1);
    LONG status = ERROR_SUCCESS;
    Open(u"OnlyInFirst", KEY_READ, status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << "the second root has its own store";
    Create(u"OnlyInSecond");
    // A handle keeps its store when the root changes.
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(GetBytes(inFirst.get(), u"v", type, data), ERROR_SUCCESS);

    ::setenv("MORVALA_ROOT", first.c_str(), 1);
    Open(u"OnlyInFirst", KEY_READ, status);
    EXPECT_EQ(status, ERROR_SUCCESS);
    Open(u"OnlyInSecond", KEY_READ, status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    std::error_code ignored;
    std::filesystem::remove_all(second, ignored);
}

TEST_F(RegApi, FlushKeySucceedsOnLiveKeys) {
    UniqueHkey key = Create(u"F");
    ASSERT_EQ(SetBytes(key.get(), u"v", REG_BINARY, {1}), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key.get()), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(nullptr), ERROR_INVALID_HANDLE);
}

}  // namespace
