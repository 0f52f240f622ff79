// What each member sends to which procedure, and how it reduces the service's
// answer to its result; and the defaults when no service can be reached.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rpc_wrapper_fixture.h"

namespace morvala::test {
namespace {

using services::ReceivedCall;
using services::Reply;
using services::Service;

TEST_F(RpcWrapperTest, WithoutServicesEveryMemberSucceedsWithItsDefaultAndLeavesNoBinding) {
    const size_t before = OpenFdCount();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        EXPECT_EQ(SendConnectionServiceText(u"text"), S_OK);
        auto flag = GetAccessoryServiceFlag();
        EXPECT_EQ(flag.hr, S_OK);
        EXPECT_FALSE(flag.result);
        auto sent = SendAccessoryServiceTexts(u"a", u"b", u"c");
        EXPECT_EQ(sent.hr, S_OK);
        EXPECT_FALSE(sent.result);
        EXPECT_EQ(SendConnectionServiceNonEmptyText(u"text"), S_OK);
        auto checked = CheckConnectionServiceText(u"text");
        EXPECT_EQ(checked.hr, S_OK);
        EXPECT_FALSE(checked.result);
        auto connectionText = GetConnectionServiceText();
        EXPECT_EQ(connectionText.hr, S_OK);
        EXPECT_EQ(connectionText.result, u"0.0.0.0");
        auto accessoryText = GetAccessoryServiceText();
        EXPECT_EQ(accessoryText.hr, S_OK);
        EXPECT_EQ(accessoryText.result, u"0.0.0.0");
    }
    EXPECT_EQ(OpenFdCount(), before);
}

// One member call and the call the service should see for it (none: no RPC
// activity at all).
struct Forwarding {
    const char* name;
    std::function<HRESULT(RpcWrapperTest&)> call;
    std::optional<Service> service;
    uint16_t opnum;
    std::vector<std::u16string> texts;  // the decoded text arguments, in order
    uint32_t capacity;                  // the count sent with a returned buffer (0: none)
};

class RpcWrapperCallsTest : public RpcWrapperTest {
protected:
    void SetUp() override {
        RpcWrapperTest::SetUp();
        StartService();
    }
};

using T = RpcWrapperTest;

TEST_F(RpcWrapperCallsTest, EachMemberCallsItsProcedureWithItsTextsOrNothingForAnEmptyRefusedText) {
    const Forwarding cases[] = {
        {"SendConnectionServiceText", [](T& t) { return t.SendConnectionServiceText(u"hello"); },
         Service::Connection, 0, {u"hello"}, 0},
        {"SendConnectionServiceText, empty: an empty text is sent",
         [](T& t) { return t.SendConnectionServiceText(u""); }, Service::Connection, 0, {u""}, 0},
        {"SendConnectionServiceText, embedded NUL: sent up to it",
         [](T& t) { return t.SendConnectionServiceText(std::u16string_view(u"ab\0cd", 5)); }, Service::Connection,
         0, {u"ab"}, 0},
        {"GetAccessoryServiceFlag", [](T& t) { return t.GetAccessoryServiceFlag().hr; }, Service::Accessory, 1,
         {}, 0},
        {"SendAccessoryServiceTexts: argument order",
         [](T& t) { return t.SendAccessoryServiceTexts(u"first", u"second", u"third").hr; }, Service::Accessory, 2,
         {u"first", u"second", u"third"}, 0},
        {"SendAccessoryServiceTexts: empty texts still travel",
         [](T& t) { return t.SendAccessoryServiceTexts(u"", u"", u"").hr; }, Service::Accessory, 2,
         {u"", u"", u""}, 0},
        {"SendConnectionServiceNonEmptyText", [](T& t) { return t.SendConnectionServiceNonEmptyText(u"x"); },
         Service::Connection, 8, {u"x"}, 0},
        {"SendConnectionServiceNonEmptyText, empty: no call",
         [](T& t) { return t.SendConnectionServiceNonEmptyText(u""); }, std::nullopt, 0, {}, 0},
        {"SendConnectionServiceNonEmptyText, leading NUL: no call",
         [](T& t) { return t.SendConnectionServiceNonEmptyText(std::u16string_view(u"\0z", 2)); }, std::nullopt,
         0, {}, 0},
        {"CheckConnectionServiceText", [](T& t) { return t.CheckConnectionServiceText(u"probe").hr; },
         Service::Connection, 9, {u"probe"}, 0},
        {"CheckConnectionServiceText, empty: no call",
         [](T& t) {
             auto checked = t.CheckConnectionServiceText(u"");
             EXPECT_FALSE(checked.result);
             return checked.hr;
         },
         std::nullopt, 0, {}, 0},
        {"GetConnectionServiceText", [](T& t) { return t.GetConnectionServiceText().hr; }, Service::Connection, 3,
         {}, 300},
        {"GetAccessoryServiceText", [](T& t) { return t.GetAccessoryServiceText().hr; }, Service::Accessory, 3, {},
         300},
    };
    for (const Forwarding& c : cases) {
        SCOPED_TRACE(c.name);
        service_.ClearReceived();
        EXPECT_EQ(c.call(*this), S_OK);
        std::vector<ReceivedCall> calls = service_.Received();
        if (!c.service) {
            EXPECT_TRUE(calls.empty());
            continue;
        }
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].service, *c.service);
        EXPECT_EQ(calls[0].opnum, c.opnum);
        ASSERT_GE(calls[0].args.size(), c.texts.size());
        for (size_t i = 0; i < c.texts.size(); ++i) EXPECT_EQ(calls[0].args[i].text, c.texts[i]) << "text " << i;
        if (c.capacity != 0) {
            EXPECT_EQ(calls[0].args[1].capacity, c.capacity);
        }
    }
}

TEST_F(RpcWrapperCallsTest, CheckConnectionServiceTextIsTrueOnlyWhenTheServiceReturnsOne) {
    for (int32_t returned : {1, 0, 2, -1}) {
        for (int32_t status : {0, 1, -1}) {
            SCOPED_TRACE("return " + std::to_string(returned) + ", status " + std::to_string(status));
            service_.Answer(Service::Connection, 9, Reply{.status = status, .returnValue = returned});
            auto checked = CheckConnectionServiceText(u"known");
            EXPECT_EQ(checked.hr, S_OK);
            EXPECT_EQ(checked.result, returned == 1);
        }
    }
}

TEST_F(RpcWrapperCallsTest, FlagAndSentTextsAreTrueForAnyNonZeroOutput) {
    for (int32_t output : {0, 1, -1, 7, INT32_MIN}) {
        SCOPED_TRACE("output " + std::to_string(output));
        service_.Answer(Service::Accessory, 1, Reply{.status = output});
        service_.Answer(Service::Accessory, 2, Reply{.status = output});
        auto flag = GetAccessoryServiceFlag();
        EXPECT_EQ(flag.hr, S_OK);
        EXPECT_EQ(flag.result, output != 0);
        auto sent = SendAccessoryServiceTexts(u"a", u"b", u"c");
        EXPECT_EQ(sent.hr, S_OK);
        EXPECT_EQ(sent.result, output != 0);
    }
}

TEST_F(RpcWrapperCallsTest, SendingMembersIgnoreTheStatusTheServiceAnswers) {
    for (uint16_t opnum : {uint16_t{0}, uint16_t{8}}) {
        service_.Answer(Service::Connection, opnum, Reply{.status = -1});
    }
    EXPECT_EQ(SendConnectionServiceText(u"t"), S_OK);
    EXPECT_EQ(SendConnectionServiceNonEmptyText(u"t"), S_OK);
    EXPECT_EQ(service_.CallCount(), 2u);
}

TEST_F(RpcWrapperCallsTest, ManyCallsWithTheServiceUpLeaveNoBindingOpen) {
    service_.Answer(Service::Accessory, 3, Reply{.status = 1, .bytes = {'v'}});
    const size_t before = FdsWithRegistryStoreOpen();
    for (int round = 0; round < 30; ++round) {
        ASSERT_EQ(SendConnectionServiceText(u"t"), S_OK);
        ASSERT_EQ(GetAccessoryServiceText().hr, S_OK);
    }
    EXPECT_EQ(WaitForOpenFds(before), before);
}

}  // namespace
}  // namespace morvala::test
