// The two text-reading members: the default text, the returned count, NULs
// inside the count, and bytes converted through the device's ANSI code page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rpc_wrapper_fixture.h"

namespace morvala::test {
namespace {

using services::Reply;
using services::Service;

struct TextCase {
    const char* name;
    Reply reply;
    std::u16string expected;
};

class RpcWrapperTextTest : public RpcWrapperTest {
protected:
    void SetUp() override {
        RpcWrapperTest::SetUp();
        StartService();
    }

    // Scripts procedure 3 of both services with each case and checks what
    // both text-reading members make of it.
    void Check(const std::vector<TextCase>& cases) {
        for (const TextCase& c : cases) {
            SCOPED_TRACE(c.name);
            service_.Answer(Service::Connection, 3, c.reply);
            service_.Answer(Service::Accessory, 3, c.reply);
            auto connection = GetConnectionServiceText();
            EXPECT_EQ(connection.hr, S_OK);
            EXPECT_EQ(connection.result, c.expected) << "connection service";
            auto accessory = GetAccessoryServiceText();
            EXPECT_EQ(accessory.hr, S_OK);
            EXPECT_EQ(accessory.result, c.expected) << "accessory service";
        }
    }
};

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST_F(RpcWrapperTextTest, StatusAndCountDecideTheText) {
    Check({
        {"status 0: the default whatever the buffer", {.status = 0, .bytes = Bytes("abc")}, u"0.0.0.0"},
        {"status 0, nothing returned", {.status = 0}, u"0.0.0.0"},
        {"status 1, count 0: empty, not the default", {.status = 1}, u""},
        {"count 3", {.status = 1, .bytes = Bytes("abc")}, u"abc"},
        {"count 4 with the NUL", {.status = 1, .bytes = Bytes(std::string_view("abc\0", 4))}, u"abc"},
        {"NUL inside the count ends the text", {.status = 1, .bytes = Bytes(std::string_view("ab\0cd", 5))}, u"ab"},
        {"NUL first", {.status = 1, .bytes = Bytes(std::string_view("\0x", 2))}, u""},
        {"negative status counts as text", {.status = -1, .bytes = Bytes("10.0.2.1")}, u"10.0.2.1"},
        {"the full capacity", {.status = 1, .bytes = std::vector<uint8_t>(300, 'z')}, std::u16string(300, u'z')},
    });
}

// Without an "ACP" setting the device's ANSI code page is 1252.
TEST_F(RpcWrapperTextTest, HighBytesFollowCodePage1252ByDefault) {
    Check({
        {"0x80-0x9F", {.status = 1, .bytes = {0x80, 0x8A, 0x90, 0x9F}}, u"\u20AC\u0160\u0090\u0178"},
        {"0xA0-0xFF", {.status = 1, .bytes = {0xA0, 0xE9, 0xFF}}, u"\u00A0\u00E9\u00FF"},
    });
}

TEST_F(RpcWrapperTextTest, HighBytesFollowCodePage1252WhenSet) {
    SetAnsiCodePage(u"1252");
    Check({{"mixed", {.status = 1, .bytes = {'v', 0x80, 0xE4}}, u"v\u20AC\u00E4"}});
}

TEST_F(RpcWrapperTextTest, HighBytesFollowCodePage932WhenSet) {
    SetAnsiCodePage(u"932");
    Check({
        {"double-byte and half-width kana", {.status = 1, .bytes = {0x82, 0xA0, 0xB1, 'a'}}, u"\u3042\uFF71a"},
        {"full capacity of double-byte characters",
         {.status = 1,
          .bytes = [] {
              std::vector<uint8_t> bytes;
              for (int i = 0; i < 150; ++i) bytes.insert(bytes.end(), {0x81, 0x40});
              return bytes;
          }()},
         std::u16string(150, u'\u3000')},
        {"lead byte at the end of the count", {.status = 1, .bytes = {'a', 0x82}}, u"a\u30FB"},
        {"lead byte before a NUL", {.status = 1, .bytes = {0x82, 0x00, 'b'}}, u"\u30FB"},
    });
}

}  // namespace
}  // namespace morvala::test
