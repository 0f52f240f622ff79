// reg export / reg import: a store holding every value type and byte count
// goes through a .reg file into a fresh store byte for byte; bad files are
// refused with their line number and change nothing.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include <gtest/gtest.h>

#include "cli_process.h"
#include "platform/registry.h"
#include "support/device_root.h"

namespace morvala::test {
namespace {

struct Stored {
    DWORD type;
    std::vector<uint8_t> data;
    bool operator==(const Stored&) const = default;
};

// (key path, value name) -> type and bytes; key paths as written.
using Contents = std::map<std::pair<std::u16string, std::u16string>, Stored>;

std::vector<uint8_t> Bytes(size_t count, uint8_t seed) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 37);
    return bytes;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view text, bool terminator) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (terminator) bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// Every type with every interesting byte count, texts that must stay quoted
// and texts that must not, and names and keys that need care.
Contents Fixture() {
    Contents contents;
    const std::u16string key = u"Software\\OEM\\Types";
    const DWORD types[] = {REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                           REG_LINK, REG_MULTI_SZ, REG_QWORD, 0x12345678u, 0xFFFFFFFFu};
    const size_t counts[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 300, 1001};
    for (DWORD type : types) {
        for (size_t count : counts) {
            char name[40];
            std::snprintf(name, sizeof name, "type %x, %zu bytes", static_cast<unsigned>(type), count);
            contents[{key, std::u16string(name, name + std::strlen(name))}] = {
                type, Bytes(count, static_cast<uint8_t>(type + count))};
        }
    }
    const std::u16string texts = u"Software\\OEM\\Texts";
    contents[{texts, u"plain"}] = {REG_SZ, Utf16Bytes(u"Hello \"quoted\" C:\\path\\", true)};
    contents[{texts, u"unterminated"}] = {REG_SZ, Utf16Bytes(u"1.2", false)};
    contents[{texts, u"embedded nul"}] = {REG_SZ, Utf16Bytes(std::u16string(u"a\0b", 3), true)};
    contents[{texts, u"control"}] = {REG_SZ, Utf16Bytes(u"line\nbreak\ttab", true)};
    contents[{texts, u"lone surrogate"}] = {REG_SZ, Utf16Bytes(u"x\xD800y", true)};
    contents[{texts, u"non-ascii \u00FC\u00DF \u20AC \U0001F600"}] = {REG_SZ, Utf16Bytes(u"\u00C4\u00D6 \U0001F600", true)};
    contents[{texts, u"empty"}] = {REG_SZ, Utf16Bytes(u"", true)};
    contents[{texts, u"multi"}] = {REG_MULTI_SZ, Utf16Bytes(std::u16string(u"one\0two\0", 8), true)};
    contents[{texts, u"expand"}] = {REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%\\x", true)};
    contents[{texts, u""}] = {REG_SZ, Utf16Bytes(u"the default", true)};
    contents[{texts, u"@"}] = {REG_DWORD, {1, 2, 3, 4}};
    contents[{texts, u"name \"with\" quotes\\and\\backslashes"}] = {REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}};
    contents[{texts, u"name with\nnewline and \x01"}] = {REG_BINARY, {}};
    contents[{texts, u"=-"}] = {REG_SZ, Utf16Bytes(u"-", true)};
    const std::u16string deep = u"Software\\OEM\\a\\b\\c\\d\\e\\f\\g\\h\\Gr\u00FC\u00DFe\\-dash\\with ] bracket\\ spaced ";
    contents[{deep, u""}] = {REG_BINARY, Bytes(3, 9)};
    contents[{deep, u"v"}] = {REG_QWORD, Bytes(8, 1)};
    return contents;
}

void Write(const Contents& contents) {
    for (const auto& [where, value] : contents) {
        platform::UniqueHkey key;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, where.first.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key.get(), where.second.c_str(), 0, value.type, value.data.data(),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS);
    }
}

// Every value below `path` in the current device root's store.
void ReadAll(const std::u16string& path, Contents& out) {
    platform::UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()), ERROR_SUCCESS) << "open";
    for (DWORD index = 0;; ++index) {
        std::u16string name(16384, u'\0');
        std::vector<uint8_t> data(4096);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LONG rc = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        name.resize(nameLength);
        data.resize(size);
        out[{path, name}] = {type, data};
    }
    for (DWORD index = 0;; ++index) {
        std::u16string name(256, u'\0');
        DWORD length = 256;
        LONG rc = RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        name.resize(length);
        ReadAll(path.empty() ? name : path + u"\\" + name, out);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

bool KeyExists(const std::u16string& path) {
    platform::UniqueHkey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

TEST(CliReg, ExportThenImportIntoAFreshRootKeepsEveryByte) {
    ScopedDeviceRoot source;
    Contents written = Fixture();
    Write(written);
    std::string file = source.Path() + "/export.reg";
    ProcessResult exported = RunMorvala({"reg", "export", "Software\\OEM", "-o", file});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    std::string text = ReadFile(file);
    // Texts that a quoted form keeps exactly are written quoted; the rest as hex.
    EXPECT_NE(text.find(R"("plain"="Hello \"quoted\" C:\\path\\")"), std::string::npos) << text;
    EXPECT_NE(text.find(R"("unterminated"=hex(1):31,00,2e,00,32,00)"), std::string::npos);
    EXPECT_NE(text.find(R"(@="the default")"), std::string::npos);
    EXPECT_NE(text.find(R"("@"=dword:04030201)"), std::string::npos);
    EXPECT_NE(text.find(R"("name with\u000anewline and \u0001"=hex:)"), std::string::npos);

    ScopedDeviceRoot target;
    ProcessResult imported = RunMorvala({"reg", "import", file});
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    Contents read;
    ReadAll(u"Software\\OEM", read);
    EXPECT_EQ(read.size(), written.size());
    for (const auto& [where, value] : written) {
        auto found = read.find(where);
        ASSERT_NE(found, read.end()) << "missing value in " << exported.out;
        EXPECT_EQ(found->second.type, value.type);
        EXPECT_EQ(found->second.data, value.data);
    }
    // And the imported store exports to the very same text.
    ProcessResult again = RunMorvala({"reg", "export", "HKEY_LOCAL_MACHINE\\Software\\OEM\\"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out, text);
}

TEST(CliReg, ImportAppliesDeletionsAndExportNamesAMissingKey) {
    ScopedDeviceRoot root;
    Write({{{u"Software\\Old\\Sub", u"x"}, {REG_DWORD, {1, 0, 0, 0}}},
           {{u"Software\\Keep", u"gone"}, {REG_DWORD, {1, 0, 0, 0}}},
           {{u"Software\\Keep", u"stays"}, {REG_DWORD, {2, 0, 0, 0}}}});
    WriteFile(root.Path() + "/change.reg",
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
              "[-HKEY_LOCAL_MACHINE\\Software\\NeverWas]\r\n"
              "[hkey_local_machine\\Software\\Keep]\r\n"
              "\"gone\"=-\r\n"
              "\"absent\"=-\r\n"
              "\"new\"=dword:2a\r\n");
    ProcessResult result = RunMorvala({"--json", "reg", "import", root.Path() + "/change.reg"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find(R"("changes":6)"), std::string::npos) << result.out;
    EXPECT_FALSE(KeyExists(u"Software\\Old"));
    Contents read;
    ReadAll(u"Software\\Keep", read);
    Contents expected{{{u"Software\\Keep", u"stays"}, {REG_DWORD, {2, 0, 0, 0}}},
                      {{u"Software\\Keep", u"new"}, {REG_DWORD, {0x2a, 0, 0, 0}}}};
    EXPECT_EQ(read, expected);

    ProcessResult missing = RunMorvala({"reg", "export", "Software\\Nothing"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("HKEY_LOCAL_MACHINE\\Software\\Nothing does not exist"), std::string::npos) << missing.err;
}

struct BadFile {
    const char* name;
    std::string body;  // after the header line and a [Software\Fresh] section with one value (lines 1-4)
    int line;
    const char* message;
};

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kGoodStart = "[-HKEY_LOCAL_MACHINE\\Software\\Keep]\n[HKEY_LOCAL_MACHINE\\Software\\Fresh]\n\"v\"=dword:00000001\n";

const BadFile kBadFiles[] = {
    {"bad hex byte", "\"b\"=hex:01,zz,03\n", 6, "bad hex byte \"zz\""},
    {"dword too long", "\"d\"=dword:123456789\n", 6, "dword: needs 1 to 8 hex digits"},
    {"dword not hex", "\"d\"=dword:12g4\n", 6, "dword: needs 1 to 8 hex digits"},
    {"unterminated name", "\"name=\"x\"\n", 6, "expected = after the value name"},
    {"missing closing quote", "\"n\"=\"text\n", 6, "missing closing quote"},
    {"unknown escape", "\"n\"=\"C:\\path\"\n", 6, "unknown escape \\p"},
    {"short unit escape", "\"n\"=\"\\u12\"\n", 6, "\\u needs four hex digits"},
    {"text after quote", "\"n\"=\"a\" b\n", 6, "unexpected characters after the closing quote"},
    {"no equals", "\"n\" \"a\"\n", 6, "expected = after the value name"},
    {"empty name", "\"\"=\"a\"\n", 6, "write the default value as @"},
    {"bad type", "\"n\"=hex(zz):01\n", 6, "hex(N): needs a type N"},
    {"continuation at end", "\"n\"=hex:01,\\\n", 6, "no data follows the continuation backslash"},
    {"continuation then blank", "\"n\"=hex:01,\\\n\n\"m\"=dword:1\n", 6, "no data follows"},
    {"bad continued byte", "\"n\"=hex:01,\\\n  02,xyz\n", 6, "bad hex byte \"xyz\""},
    {"other hive", "[HKEY_CURRENT_USER\\Software]\n", 6, "only HKEY_LOCAL_MACHINE is served"},
    {"whole hive deletion", "[-HKEY_LOCAL_MACHINE]\n", 6, "refusing to delete the whole"},
    {"empty component", "[HKEY_LOCAL_MACHINE\\Software\\\\Twice]\n", 6, "empty component"},
    {"key name too long", "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 6, "longer than 255"},
    {"unclosed section", "[HKEY_LOCAL_MACHINE\\Software\n", 6, "must end with ]"},
    {"value in deletion", "[-HKEY_LOCAL_MACHINE\\Software\\X]\n\"v\"=dword:1\n", 7, "in a [-key] deletion section"},
    {"not utf-8", "\"n\"=\"\xC3\x28\"\n", 6, "the text is not valid UTF-8"},
    {"stray line", "\n\nv=1\n", 8, "expected a [key] line"},
};

TEST(CliReg, BadFilesNameTheirLineAndChangeNothing) {
    ScopedDeviceRoot root;
    Write({{{u"Software\\Keep", u"x"}, {REG_DWORD, {7, 0, 0, 0}}}});
    std::string file = root.Path() + "/bad.reg";
    for (const BadFile& bad : kBadFiles) {
        SCOPED_TRACE(bad.name);
        WriteFile(file, kHeader + kGoodStart + bad.body);
        ProcessResult result = RunMorvala({"reg", "import", file});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("bad.reg: line " + std::to_string(bad.line) + ": "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(bad.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("nothing was imported"), std::string::npos) << result.err;
        // Neither the deletion nor the section before the fault was applied.
        EXPECT_TRUE(KeyExists(u"Software\\Keep"));
        EXPECT_FALSE(KeyExists(u"Software\\Fresh"));
    }
}

TEST(CliReg, BadHeadersAndEncodings) {
    ScopedDeviceRoot root;
    std::string file = root.Path() + "/bad.reg";
    const std::pair<std::string, std::string> cases[] = {
        {"", "line 1: the file is empty"},
        {"\n\n[HKEY_LOCAL_MACHINE\\X]\n", "line 3: the first line must be"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n", "line 1: REGEDIT4 (8-bit) files are not supported"},
        {std::string("\xFF\xFEW\0i\0", 6), "line 1: UTF-16 files are not supported"},
        {std::string("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X\0]\n", 62), "line 3: a NUL byte"},
        {"Windows Registry Editor Version 5.00\n\"v\"=dword:1\n", "line 2: a value line before any [key] line"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(message);
        WriteFile(file, text);
        ProcessResult result = RunMorvala({"reg", "import", file});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
        EXPECT_FALSE(KeyExists(u"X"));
    }
    ProcessResult checked = RunMorvala({"reg", "import", "--check", "-"}, kHeader + kGoodStart);
    EXPECT_EQ(checked.exitCode, 0) << checked.err;
    EXPECT_NE(checked.out.find("3 change(s); nothing applied"), std::string::npos) << checked.out;
    EXPECT_FALSE(KeyExists(u"Software\\Fresh"));
    EXPECT_EQ(RunMorvala({"reg", "import", root.Path() + "/none.reg"}).exitCode, 1);
}

TEST(CliReg, ImportIntoAStoreItCannotWriteChangesNothing) {
    ScopedDeviceRoot root;
    Write({{{u"Software\\Keep", u"x"}, {REG_DWORD, {7, 0, 0, 0}}}});
    chmod(root.Path().c_str(), 0755);
    std::string file = root.Path() + "/good.reg";
    WriteFile(file, kHeader + kGoodStart);
    chmod(file.c_str(), 0644);
    ChildProcess child;  // as nobody, for whom the store is read-only
    ASSERT_TRUE(child.Start(MorvalaPath(), {"reg", "import", file}, 65534));
    ProcessResult result = child.Finish(60);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("nothing was imported"), std::string::npos) << result.err;
    EXPECT_TRUE(KeyExists(u"Software\\Keep"));
    EXPECT_FALSE(KeyExists(u"Software\\Fresh"));
}

}  // namespace
}  // namespace morvala::test
