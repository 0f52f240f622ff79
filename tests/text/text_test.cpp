// Text services: _wtol, MultiByteToWideChar over the device's code page, and
// the immediate process exit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace {

struct WtolCase {
    const char16_t* text;
    LONG expected;
};

TEST(Wtol, FollowsTheCRuntimeGrammar) {
    const WtolCase cases[] = {
        {u"42", 42},
        {u"  -7abc", -7},
        {u"+214", 214},
        {u"--214", 0},
        {u"-+214", 0},
        {u"+-214", 0},
        {u"\t\n\v\f\r 214", 214},
        {u"\x01" u"214", 0},
        {u"+214 0", 214},
        {u" 214.01", 214},
        {u"0x12345", 0},
        {u"1x34", 1},
        {u"056789", 56789},
        {u"", 0},
        {u"abc", 0},
        {u"2147483647", 2147483647},
        {u"2147483648", 2147483647},
        {u"-2147483648", INT32_MIN},
        {u"-2147483649", INT32_MIN},
        {u"99999999999999999999999999", 2147483647},
        {u"-99999999999999999999999999", INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(_wtol(c.text), c.expected) << "text #" << (&c - cases);
    }
    EXPECT_EQ(_wtol(nullptr), 0);
}

class DeviceRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/morvala-text-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        setenv("MORVALA_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("MORVALA_ROOT");
        std::filesystem::remove_all(root_);
    }
    void SetAnsiCodePage(const char16_t* number) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", 0,
                                  nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        platform::UniqueHkey owned(key);
        std::u16string text(number);
        ASSERT_EQ(RegSetValueExW(key, u"ACP", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>((text.size() + 1) * 2)),
                  ERROR_SUCCESS);
    }

    std::string root_;
};

std::u16string Convert(UINT codePage, const std::string& bytes) {
    std::u16string out(bytes.size(), u'\xFFFF');
    int written = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                                      static_cast<int>(out.size()));
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
}

TEST_F(DeviceRootTest, AnsiCodePageIs1252WhenTheRegistryHasNone) {
    EXPECT_EQ(GetACP(), 1252u);
    EXPECT_EQ(Convert(CP_ACP, "\x80\x81\x8d\x90\x9f\xe9"), (std::u16string{0x20AC, 0x0081, 0x008D, 0x0090, 0x0178, 0x00E9}));
}

TEST_F(DeviceRootTest, AnsiCodePageFollowsTheRegistry) {
    SetAnsiCodePage(u"932");
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(Convert(CP_ACP, "a\x82\xa0\xb1"), (std::u16string{u'a', 0x3042, 0xFF71}));
}

struct PageCase {
    const char* name;
    UINT codePage;
    std::string bytes;
    std::u16string expected;
};

TEST(MultiByteToWideChar, ConvertsTheSupportedCodePages) {
    const PageCase cases[] = {
        {"1252 C1 range", 1252, "\x80\x82\x83\x8a\x99", {0x20AC, 0x201A, 0x0192, 0x0160, 0x2122}},
        {"1252 NUL kept inside the count", 1252, std::string("a\0b", 3), {u'a', 0, u'b'}},
        {"1250", 1250, "\x8a\xb9", {0x0160, 0x0105}},
        {"1251", 1251, "\xc0\xff", {0x0410, 0x044F}},
        {"1253", 1253, "\xc1", {0x0391}},
        {"932 pairs and singles", 932, "\x81\x40\x82\x9f\xa1", {0x3000, 0x3041, 0xFF61}},
        {"932 bytes the platform assigns", 932, "\x80\xa0\xfd\xfe\xff", {0x0080, 0xF8F0, 0xF8F1, 0xF8F2, 0xF8F3}},
        {"932 lead byte at the end", 932, "a\x82", {u'a', 0x30FB}},
        {"932 lead byte before NUL", 932, std::string("\x82\0", 2), {0x30FB, 0}},
        {"936", 936, "\xc4\xe3", {0x4F60}},
        {"949", 949, "\xb0\xa1", {0xAC00}},
        {"950", 950, "\xa4\x40", {0x4E00}},
        {"874", 874, "\xa1", {0x0E01}},
        {"UTF-8", CP_UTF8, "\xc3\xa9\xe2\x82\xac", {0x00E9, 0x20AC}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Convert(c.codePage, c.bytes), c.expected) << c.name;
    }
}

TEST(MultiByteToWideChar, ReportsErrorsAsThePlatformDoes) {
    WCHAR out[8] = {};
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 0, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(1252, 0x10, "abc", 3, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, nullptr, 3), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, out, -1), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_EQ(MultiByteToWideChar(1252, 0, "foobar", -1, nullptr, 0), 7) << "length with the terminator";
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "foobar", -1, out, 6), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(out, 6), u"foobar") << "as many units as fit are written";

    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, out, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    EXPECT_EQ(MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, "\x90", 1, out, 8), 1) << "0x90 is defined in 1252";
}

TEST(ExitProcess, EndsWithTheCodeWhileOtherThreadsAreBusy) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::atomic<bool> spinning{true};
        std::vector<std::thread> busy;
        for (int i = 0; i < 3; ++i) {
            busy.emplace_back([&] {
                std::vector<int> churn;
                while (spinning.load()) churn.assign(64, 1);
            });
        }
        usleep(20000);
        ExitProcess(7);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
