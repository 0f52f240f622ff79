// The platform's Reg* functions with hostile handles, null out-parameters
// and hostile paths. Path and name rules have their own table in
// tests/registry; here every function meets handles it never issued, handles
// already closed and pointers it may not follow, and nothing already stored
// may change because of it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "bad_input_support.h"
#include "support/device_root.h"

namespace {

using namespace bad_input;
using platform::UniqueHkey;

class RegFunctionsBadInput : public morvala::test::DeviceRootTest {
protected:
    void SetUp() override {
        Put(u"Keep\\Sub", u"v", REG_SZ, Utf16(u"kept", true));
        handlesAtStart_ = platform::RegistryOpenHandleCount();
    }
    void TearDown() override {
        DWORD type = 0;
        Bytes data;
        EXPECT_TRUE(Get(u"Keep\\Sub", u"v", type, data) && data == Utf16(u"kept", true)) << "stored data changed";
        EXPECT_EQ(platform::RegistryOpenHandleCount(), handlesAtStart_) << "a key handle was left open";
    }
    uint32_t handlesAtStart_ = 0;
};

// Every function on one handle; each must answer `expected`.
void EveryFunctionAnswers(HKEY key, LONG expected) {
    HKEY out = reinterpret_cast<HKEY>(uintptr_t{0x10});
    DWORD type = 0, size = 4, chars = 8, count = 0;
    BYTE data[4] = {};
    WCHAR name[8] = {};
    FILETIME time{};
    const BYTE one[4] = {1, 0, 0, 0};
    struct Call {
        const char* name;
        std::function<LONG()> run;
    } calls[] = {
        {"RegOpenKeyExW", [&] { return RegOpenKeyExW(key, u"Keep", 0, KEY_READ, &out); }},
        {"RegCreateKeyExW",
         [&] { return RegCreateKeyExW(key, u"Made", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr); }},
        {"RegSetValueExW", [&] { return RegSetValueExW(key, u"v", 0, REG_DWORD, one, 4); }},
        {"RegQueryValueExW", [&] { return RegQueryValueExW(key, u"v", nullptr, &type, data, &size); }},
        {"RegQueryInfoKeyW",
         [&] {
             return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, &count, nullptr,
                                     nullptr, nullptr, &time);
         }},
        {"RegEnumValueW", [&] { return RegEnumValueW(key, 0, name, &chars, nullptr, &type, data, &size); }},
        {"RegEnumKeyExW", [&] { return RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, &time); }},
        {"RegDeleteTreeW", [&] { return RegDeleteTreeW(key, u"Keep"); }},
        {"RegDeleteTreeW of itself", [&] { return RegDeleteTreeW(key, nullptr); }},
        {"RegDeleteValueW", [&] { return RegDeleteValueW(key, u"v"); }},
        {"RegFlushKey", [&] { return RegFlushKey(key); }},
        {"RegCloseKey", [&] { return RegCloseKey(key); }},
    };
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        out = reinterpret_cast<HKEY>(uintptr_t{0x10});
        EXPECT_EQ(call.run(), expected);
        if (std::string(call.name).rfind("RegOpen", 0) == 0 || std::string(call.name).rfind("RegCreate", 0) == 0) {
            EXPECT_EQ(out, nullptr) << "a failed open leaves a null handle";
        }
    }
}

TEST_F(RegFunctionsBadInput, HandlesNeverIssuedOrClosedAreInvalid) {
    HKEY closed = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Keep", 0, KEY_ALL_ACCESS, &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    HKEY currentUser = reinterpret_cast<HKEY>(static_cast<uintptr_t>(static_cast<intptr_t>(int32_t(0x80000001))));
    struct Case {
        const char* name;
        HKEY key;
    } cases[] = {
        {"null", nullptr},
        {"closed", closed},
        {"another hive", currentUser},
        {"small number", reinterpret_cast<HKEY>(uintptr_t{1})},
        {"pointer-like junk", reinterpret_cast<HKEY>(uintptr_t{0x7fffdeadbee8})},
        {"all bits set", reinterpret_cast<HKEY>(~uintptr_t{0})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EveryFunctionAnswers(c.key, ERROR_INVALID_HANDLE);
    }
    EXPECT_FALSE(KeyExists(u"Made"));
}

TEST_F(RegFunctionsBadInput, NullOutParametersAreRefusedOrSkippedAsDocumented) {
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Keep\\Sub", 0, KEY_ALL_ACCESS, key.put()), ERROR_SUCCESS);
    BYTE data[16] = {};
    WCHAR name[16] = {};
    DWORD chars = 16, size = sizeof data, type = 0;
    struct Case {
        const char* name;
        std::function<LONG()> run;
        LONG expected;
    } cases[] = {
        {"open without a result", [&] { return RegOpenKeyExW(key.get(), u"", 0, KEY_READ, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"create without a result",
         [&] { return RegCreateKeyExW(key.get(), u"New", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"query with data but no count",
         [&] { return RegQueryValueExW(key.get(), u"v", nullptr, &type, data, nullptr); }, ERROR_INVALID_PARAMETER},
        {"query with a reserved word", [&] { return RegQueryValueExW(key.get(), u"v", &size, &type, data, &size); },
         ERROR_INVALID_PARAMETER},
        {"query of nothing but existence", [&] { return RegQueryValueExW(key.get(), u"v", nullptr, nullptr, nullptr, nullptr); },
         ERROR_SUCCESS},
        {"set with data missing", [&] { return RegSetValueExW(key.get(), u"w", 0, REG_BINARY, nullptr, 4); },
         ERROR_NOACCESS},
        {"enum value without a name buffer",
         [&] { return RegEnumValueW(key.get(), 0, nullptr, &chars, nullptr, &type, data, &size); },
         ERROR_INVALID_PARAMETER},
        {"enum value without a name count",
         [&] { return RegEnumValueW(key.get(), 0, name, nullptr, nullptr, &type, data, &size); },
         ERROR_INVALID_PARAMETER},
        {"enum value with data but no count",
         [&] { return RegEnumValueW(key.get(), 0, name, &chars, nullptr, &type, data, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"enum key without a name buffer",
         [&] { return RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"enum key without a name count",
         [&] { return RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, nullptr, nullptr, nullptr, nullptr, nullptr); },
         ERROR_INVALID_PARAMETER},
        {"info with every out-parameter null",
         [&] {
             return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
         },
         ERROR_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        chars = 16;
        size = sizeof data;
        EXPECT_EQ(c.run(), c.expected);
    }
    EXPECT_FALSE(KeyExists(u"Keep\\Sub\\New"));
    DWORD t = 0;
    Bytes d;
    EXPECT_FALSE(Get(u"Keep\\Sub", u"w", t, d));
}

TEST_F(RegFunctionsBadInput, HostilePathsDeleteNothingTheyDoNotName) {
    UniqueHkey keep;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Keep", 0, KEY_ALL_ACCESS, keep.put()), ERROR_SUCCESS);
    const std::u16string longName(256, u'k');
    struct Case {
        const char* name;
        std::u16string path;
        LONG expected;
    } cases[] = {
        {"leading backslash", u"\\Sub", ERROR_BAD_PATHNAME},
        {"only backslashes", u"\\\\\\", ERROR_BAD_PATHNAME},
        {"missing key", u"Gone\\\\", ERROR_FILE_NOT_FOUND},
        {"name over 255 units", u"Sub\\" + longName, ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RegDeleteTreeW(keep.get(), c.path.c_str()), c.expected);
        EXPECT_TRUE(KeyExists(u"Keep\\Sub"));
    }
    // A path that reads as empty (NUL first) clears the handle's own key and
    // keeps it: only what lies under that handle goes.
    Put(u"Scratch\\Child", u"x", REG_SZ, Utf16(u"x", true));
    UniqueHkey scratch;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Scratch", 0, KEY_ALL_ACCESS, scratch.put()), ERROR_SUCCESS);
    const std::u16string nulFirst(u"\0Child", 6);
    EXPECT_EQ(RegDeleteTreeW(scratch.get(), nulFirst.c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(KeyExists(u"Scratch"));
    EXPECT_FALSE(KeyExists(u"Scratch\\Child"));
    // Doubled and trailing separators name the key they spell, and nothing more.
    Put(u"Keep\\Twin", u"v", REG_SZ, Utf16(u"t", true));
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Keep\\\\Twin\\\\"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(u"Keep\\Twin"));
}

}  // namespace
