// The procedure operations against a scripted service: what reaches the
// service, in which procedure, and what comes back into the caller's outputs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "accessory_service_client.h"
#include "connection_service_client.h"
#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "fresh_root.h"
#include "platform_seam.h"
#include "scripted_service.h"

namespace {

using morvala::services::ReceivedCall;
using morvala::services::Reply;
using morvala::services::ScriptedService;
using morvala::services::Service;

class ClientProcedureTest : public morvala::test::FreshRootTest {
protected:
    void SetUp() override {
        FreshRootTest::SetUp();
        ASSERT_EQ(service_.Start(), RPC_S_OK);
        seam::Reset();
    }
    void TearDown() override {
        service_.Stop();
        FreshRootTest::TearDown();
    }
    // The one call the service received; fails the test unless exactly one.
    ReceivedCall OnlyCall() {
        std::vector<ReceivedCall> calls = service_.Received();
        EXPECT_EQ(calls.size(), 1u);
        return calls.empty() ? ReceivedCall{} : calls[0];
    }

    ScriptedService service_{};
};

TEST_F(ClientProcedureTest, EachOperationCallsItsOwnProcedureWithItsArgumentsInOrder) {
    const BYTE block[16] = {0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x0F};
    WCHAR units[8];
    char bytes[8];
    ULONG count = 0;
    LONG status = 0;
    struct Case {
        Service service;
        uint16_t opnum;
        std::function<void()> call;
        std::function<void(const ReceivedCall&)> check;
    };
    const Case cases[] = {
        {Service::Connection, 0, [&] { CMorCgSvcRpc().SendText(u"zero", &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[0].text, u"zero"); }},
        {Service::Connection, 1, [&] { CMorCgSvcRpc().Proc1(u"one", block, &status); },
         [&](const ReceivedCall& c) {
             EXPECT_EQ(c.args[0].text, u"one");
             EXPECT_EQ(c.args[1].bytes, std::vector<uint8_t>(block, block + 16));
             EXPECT_EQ(c.args[2].value, 16u);
         }},
        {Service::Connection, 2, [&] { count = 8; CMorCgSvcRpc().Proc2(units, &count, &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[1].capacity, 8u); }},
        {Service::Connection, 3, [&] { count = 7; CMorCgSvcRpc().GetText(bytes, &count, &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[1].capacity, 7u); }},
        {Service::Connection, 4, [&] { CMorCgSvcRpc().Proc4(&status); }, [](const ReceivedCall&) {}},
        {Service::Connection, 5, [&] { count = 6; CMorCgSvcRpc().Proc5(u"five", units, &count, &status); },
         [](const ReceivedCall& c) {
             EXPECT_EQ(c.args[0].text, u"five");
             EXPECT_EQ(c.args[2].capacity, 6u);
         }},
        {Service::Connection, 6, [&] { CMorCgSvcRpc().Proc6(&status); }, [](const ReceivedCall&) {}},
        {Service::Connection, 7, [&] { CMorCgSvcRpc().Proc7(u"seven", &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[0].text, u"seven"); }},
        {Service::Connection, 8, [&] { CMorCgSvcRpc().SendNonEmptyText(u"eight", &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[0].text, u"eight"); }},
        {Service::Connection, 9, [&] { CMorCgSvcRpc().CheckText(u"nine", &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[0].text, u"nine"); }},
        {Service::Accessory, 0, [&] { CMorvalaAccObaRpc().Proc0(u"first", u"second", 0xFFFFFFFEu, 9); },
         [](const ReceivedCall& c) {
             EXPECT_EQ(c.args[0].text, u"first");
             EXPECT_EQ(c.args[1].text, u"second");
             EXPECT_EQ(c.args[2].value, 0xFFFFFFFEu);
             EXPECT_EQ(c.args[3].value, 9u);
         }},
        {Service::Accessory, 1, [&] { CMorvalaAccObaRpc().GetFlag(&status); }, [](const ReceivedCall&) {}},
        {Service::Accessory, 2, [&] { CMorvalaAccObaRpc().SendTexts(u"a", u"bb", u"ccc", &status); },
         [](const ReceivedCall& c) {
             EXPECT_EQ(c.args[0].text, u"a");
             EXPECT_EQ(c.args[1].text, u"bb");
             EXPECT_EQ(c.args[2].text, u"ccc");
         }},
        {Service::Accessory, 3, [&] { count = 5; CMorvalaAccObaRpc().GetText(bytes, &count, &status); },
         [](const ReceivedCall& c) { EXPECT_EQ(c.args[1].capacity, 5u); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.service == Service::Connection ? "connection " : "accessory ") +
                     std::to_string(c.opnum));
        service_.ClearReceived();
        c.call();
        ReceivedCall received = OnlyCall();
        EXPECT_EQ(received.service, c.service);
        EXPECT_EQ(received.opnum, c.opnum);
        if (!received.args.empty()) c.check(received);
    }
}

TEST_F(ClientProcedureTest, ServiceLearnsTheCallersLocalIdentity) {
    LONG status = 0;
    CMorCgSvcRpc().SendText(u"who", &status);
    ReceivedCall received = OnlyCall();
    EXPECT_TRUE(received.caller.local);
    EXPECT_EQ(received.caller.uid, getuid());
    EXPECT_EQ(received.caller.pid, getpid());
}

TEST_F(ClientProcedureTest, EmptyTextsAreRefusedBeforeAnyRpcActivity) {
    const WCHAR* const texts[] = {nullptr, u""};
    for (const WCHAR* text : texts) {
        SCOPED_TRACE(text ? "empty" : "null");
        seam::Reset();
        CMorCgSvcRpc client;
        LONG status = 42;
        client.SendNonEmptyText(text, &status);
        EXPECT_EQ(status, 0);
        status = 42;
        EXPECT_EQ(client.CheckText(text, &status), 0);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(client.m_hBinding, nullptr);
        EXPECT_TRUE(seam::Names().empty());
    }
    EXPECT_EQ(service_.CallCount(), 0u);
}

TEST_F(ClientProcedureTest, ReturnValuesAndOutputsArePassedThroughUnreduced) {
    const int32_t values[] = {0, 1, 2, -1, 7};
    for (int32_t value : values) {
        SCOPED_TRACE(value);
        service_.Answer(Service::Connection, contracts::kConnCheckText, {.status = value + 100, .returnValue = value});
        service_.Answer(Service::Connection, contracts::kConnProc1, {.status = value, .returnValue = value - 1});
        service_.Answer(Service::Accessory, contracts::kAccGetFlag, {.status = value});
        service_.Answer(Service::Connection, contracts::kConnProc4, {.status = value});

        LONG status = 0;
        const BYTE block[16] = {};
        EXPECT_EQ(CMorCgSvcRpc().CheckText(u"x", &status), value);
        EXPECT_EQ(status, value + 100);
        EXPECT_EQ(CMorCgSvcRpc().Proc1(u"x", block, &status), value - 1);
        EXPECT_EQ(status, value);
        LONG flag = 12345;
        CMorvalaAccObaRpc().GetFlag(&flag);
        EXPECT_EQ(flag, value);
        LONG counter = 12345;
        CMorCgSvcRpc().Proc4(&counter);
        EXPECT_EQ(counter, value);
    }
}

TEST_F(ClientProcedureTest, GetTextDeliversExactlyTheAnsweredBytes) {
    service_.Answer(Service::Connection, contracts::kConnGetText,
                    {.status = 1, .bytes = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}});
    service_.Answer(Service::Accessory, contracts::kAccGetText,
                    {.status = 1, .bytes = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}});
    const std::function<void(char*, ULONG*, LONG*)> calls[] = {
        [](char* b, ULONG* c, LONG* s) { CMorCgSvcRpc().GetText(b, c, s); },
        [](char* b, ULONG* c, LONG* s) { CMorvalaAccObaRpc().GetText(b, c, s); },
    };
    for (const auto& call : calls) {
        char buffer[300];
        std::memset(buffer, 0x7E, sizeof buffer);
        ULONG count = sizeof buffer;
        LONG status = 0;
        call(buffer, &count, &status);
        EXPECT_EQ(count, 9u);
        EXPECT_EQ(status, 1);
        EXPECT_EQ(std::string(buffer, 9), "abcdefghi");
        for (size_t k = 9; k < sizeof buffer; ++k) ASSERT_EQ(buffer[k], 0x7E) << "byte " << k << " written";
    }
}

TEST_F(ClientProcedureTest, UnitBuffersComeBackAsAnswered) {
    service_.Answer(Service::Connection, contracts::kConnProc2, {.status = 1, .units = u"h\u00e9llo"});
    service_.Answer(Service::Connection, contracts::kConnProc5, {.status = 2, .units = u""});
    WCHAR units[10];
    std::fill(std::begin(units), std::end(units), u'#');
    ULONG count = 10;
    LONG status = 0;
    CMorCgSvcRpc().Proc2(units, &count, &status);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(std::u16string(units, 5), u"h\u00e9llo");
    EXPECT_EQ(units[5], u'#');

    count = 10;
    CMorCgSvcRpc().Proc5(u"abc", units, &count, &status);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(status, 2);
}

TEST_F(ClientProcedureTest, SendTextsWithThreeEmptyTextsStillCalls) {
    service_.Answer(Service::Accessory, contracts::kAccSendTexts, {.status = 1});
    LONG status = 0;
    CMorvalaAccObaRpc().SendTexts(u"", u"", u"", &status);
    EXPECT_EQ(status, 1);
    ReceivedCall received = OnlyCall();
    ASSERT_EQ(received.args.size(), 4u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(received.args[k].text, u"");
}

TEST_F(ClientProcedureTest, SendTextWithAnEmptyTextBindsAndSends) {
    LONG status = 0;
    CMorCgSvcRpc().SendText(u"", &status);
    ReceivedCall received = OnlyCall();
    EXPECT_EQ(received.opnum, contracts::kConnSendText);
    EXPECT_EQ(received.args[0].text, u"");
}

}  // namespace
