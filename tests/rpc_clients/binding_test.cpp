// The client objects' binding: which platform calls they make, in which
// order, with which records, and what they leave behind when the service,
// the descriptor or the binding cannot be had.
#include <gtest/gtest.h>

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

using morvala::services::ScriptedService;
using morvala::services::Service;
using Names = std::vector<std::string>;

// The outputs an operation may touch, preset to values no path writes.
struct Outputs {
    static constexpr LONG kSentinel = 77;
    static constexpr ULONG kCapacity = 16;
    LONG status = kSentinel;
    LONG result = kSentinel;
    ULONG count = kCapacity;
    char bytes[kCapacity];
    WCHAR units[kCapacity];
    RPC_BINDING_HANDLE bindingAfter = reinterpret_cast<RPC_BINDING_HANDLE>(1);
    Outputs() {
        std::memset(bytes, 0x5A, sizeof bytes);
        std::memset(units, 0x5A, sizeof units);
    }
};

const BYTE kBlock[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

struct Operation {
    const char* name;
    bool connection;   // CMorCgSvcRpc: presets its last output to 0
    bool hasResult;
    std::function<void(Outputs&)> run;  // creates a client, calls once, notes the binding, destroys it
};

template <typename Client, typename Call>
std::function<void(Outputs&)> With(Call call) {
    return [call](Outputs& out) {
        Client client;
        call(client, out);
        out.bindingAfter = client.m_hBinding;
    };
}

const std::vector<Operation>& AllOperations() {
    using C = CMorCgSvcRpc;
    using A = CMorvalaAccObaRpc;
    static const std::vector<Operation> operations = {
        {"SendText", true, false, With<C>([](C& c, Outputs& o) { c.SendText(u"t", &o.status); })},
        {"Proc1", true, true, With<C>([](C& c, Outputs& o) { o.result = c.Proc1(u"t", kBlock, &o.status); })},
        {"Proc2", true, false, With<C>([](C& c, Outputs& o) { c.Proc2(o.units, &o.count, &o.status); })},
        {"GetText", true, false, With<C>([](C& c, Outputs& o) { c.GetText(o.bytes, &o.count, &o.status); })},
        {"Proc4", true, false, With<C>([](C& c, Outputs& o) { c.Proc4(&o.status); })},
        {"Proc5", true, false, With<C>([](C& c, Outputs& o) { c.Proc5(u"t", o.units, &o.count, &o.status); })},
        {"Proc6", true, false, With<C>([](C& c, Outputs& o) { c.Proc6(&o.status); })},
        {"Proc7", true, false, With<C>([](C& c, Outputs& o) { c.Proc7(u"t", &o.status); })},
        {"SendNonEmptyText", true, false, With<C>([](C& c, Outputs& o) { c.SendNonEmptyText(u"t", &o.status); })},
        {"CheckText", true, true, With<C>([](C& c, Outputs& o) { o.result = c.CheckText(u"t", &o.status); })},
        {"Acc.Proc0", false, false, With<A>([](A& c, Outputs&) { c.Proc0(u"a", u"b", 1, 2); })},
        {"Acc.GetFlag", false, false, With<A>([](A& c, Outputs& o) { c.GetFlag(&o.status); })},
        {"Acc.SendTexts", false, false, With<A>([](A& c, Outputs& o) { c.SendTexts(u"a", u"b", u"c", &o.status); })},
        {"Acc.GetText", false, false, With<A>([](A& c, Outputs& o) { c.GetText(o.bytes, &o.count, &o.status); })},
    };
    return operations;
}

class ClientBindingTest : public morvala::test::FreshRootTest {
protected:
    void SetUp() override {
        FreshRootTest::SetUp();
        seam::Reset();
    }
    void TearDown() override {
        seam::Reset();
        FreshRootTest::TearDown();
    }
};

// Every way the binding can fail, with the platform calls each must make.
struct FailureCase {
    const char* name;
    void (*inject)();
    Names expectedCalls;
};

const FailureCase kFailures[] = {
    // No service: the new handle is freed again after the failed bind.
    {"no service running", [] {}, {"query", "create", "free-descriptor", "bind", "free-binding"}},
    // No descriptor: nothing else is attempted.
    {"descriptor unavailable", seam::FailQuery, {"query"}},
    // Creation fails: the descriptor is still released, once.
    {"create fails", seam::FailCreate, {"query", "create", "free-descriptor"}},
};

TEST_F(ClientBindingTest, UnreachableServiceLeavesNoBindingAndOutputsAsTheClassPresetsThem) {
    for (const FailureCase& failure : kFailures) {
        for (const Operation& operation : AllOperations()) {
            SCOPED_TRACE(std::string(failure.name) + " / " + operation.name);
            seam::Reset();
            failure.inject();
            Outputs out;
            Outputs untouched;
            EXPECT_NO_THROW(operation.run(out));  // a call on an unbound handle would throw

            EXPECT_EQ(seam::Names(), failure.expectedCalls);
            EXPECT_EQ(out.bindingAfter, nullptr);
            // The connection client presets its last output to 0; the
            // accessory client leaves every output as the caller set it.
            EXPECT_EQ(out.status, operation.connection ? 0 : Outputs::kSentinel);
            EXPECT_EQ(out.result, operation.hasResult ? 0 : Outputs::kSentinel);
            EXPECT_EQ(out.count, Outputs::kCapacity);
            EXPECT_EQ(std::memcmp(out.bytes, untouched.bytes, sizeof out.bytes), 0);
            EXPECT_EQ(std::memcmp(out.units, untouched.units, sizeof out.units), 0);
        }
    }
}

TEST_F(ClientBindingTest, CreateFailureReleasesTheDescriptorItObtained) {
    seam::FailCreate();
    Outputs out;
    AllOperations()[0].run(out);
    std::vector<seam::Event> events = seam::Events();
    ASSERT_EQ(events.size(), 3u);
    ASSERT_NE(events[0].handle, nullptr);
    EXPECT_EQ(events[2].name, "free-descriptor");
    EXPECT_EQ(events[2].handle, events[0].handle);
}

TEST_F(ClientBindingTest, BindRequestCarriesTheSecurityRecordsAndTheInterface) {
    struct Case {
        const char* name;
        std::function<void()> run;
        RPC_IF_HANDLE expectedInterface;
    };
    const Case cases[] = {
        {"connection", [] { Outputs out; AllOperations()[0].run(out); }, contracts::ConnectionServiceIfHandle()},
        {"accessory", [] { Outputs out; AllOperations()[11].run(out); }, contracts::AccessoryServiceIfHandle()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seam::Reset();
        c.run();
        EXPECT_EQ(seam::LastQuery().type, 9u);
        EXPECT_EQ(seam::LastQuery().name, u"InteropRPC\\Server");

        seam::CreateArguments create = seam::LastCreate();
        EXPECT_EQ(create.templ.Version, 1u);
        EXPECT_EQ(create.templ.Flags, 0u);
        EXPECT_EQ(create.templ.ProtocolSequence, RPC_PROTSEQ_LRPC);
        EXPECT_EQ(create.templ.NetworkAddress, nullptr);
        EXPECT_EQ(create.templ.StringEndpoint, nullptr);
        EXPECT_EQ(create.templ.u1.Reserved, nullptr);
        const UUID nil{};
        EXPECT_EQ(std::memcmp(&create.templ.ObjectUuid, &nil, sizeof nil), 0);

        ASSERT_TRUE(create.hadSecurity);
        EXPECT_EQ(create.security.Version, 1u);
        EXPECT_EQ(create.security.ServerPrincName, nullptr);
        EXPECT_EQ(create.security.AuthnLevel, RPC_C_AUTHN_LEVEL_PKT_PRIVACY);
        EXPECT_EQ(create.security.AuthnSvc, RPC_C_AUTHN_WINNT);
        EXPECT_EQ(create.security.AuthIdentity, nullptr);

        ASSERT_TRUE(create.hadQos);
        EXPECT_EQ(create.qos.Version, 5u);
        EXPECT_EQ(create.qos.Capabilities, RPC_C_QOS_CAPABILITIES_DEFAULT);
        EXPECT_EQ(create.qos.IdentityTracking, RPC_C_QOS_IDENTITY_STATIC);
        EXPECT_EQ(create.qos.ImpersonationType, RPC_C_IMP_LEVEL_IDENTIFY);
        EXPECT_EQ(create.qos.AdditionalSecurityInfoType, 0u);
        EXPECT_EQ(create.qos.Sid, nullptr);
        EXPECT_EQ(create.qos.EffectiveOnly, 0u);
        EXPECT_EQ(create.qos.ServerSecurityDescriptor, seam::Events()[0].handle);  // the one just obtained
        EXPECT_FALSE(create.hadOptions);

        EXPECT_EQ(seam::LastBind().async, nullptr);
        EXPECT_EQ(seam::LastBind().ifSpec, c.expectedInterface);
    }
}

TEST_F(ClientBindingTest, SuccessfulBindSetsTheMinimumTimeoutAndTheDestructorFreesOnce) {
    ScriptedService service;
    ASSERT_EQ(service.Start(), RPC_S_OK);
    Outputs out;
    AllOperations()[9].run(out);  // CheckText

    std::vector<seam::Event> events = seam::Events();
    EXPECT_EQ(seam::Names(), (Names{"query", "create", "free-descriptor", "bind", "timeout", "free-binding"}));
    EXPECT_EQ(seam::LastTimeout(), RPC_C_BINDING_MIN_TIMEOUT);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_NE(out.bindingAfter, nullptr);
    EXPECT_EQ(events[5].handle, out.bindingAfter);  // the destructor freed the bound handle
    EXPECT_EQ(service.CallCount(), 1u);
}

TEST_F(ClientBindingTest, FailedBindIsRetriedByTheNextOperationOnTheSameObject) {
    CMorCgSvcRpc client;
    LONG status = 5;
    client.SendText(u"first", &status);
    EXPECT_EQ(client.m_hBinding, nullptr);
    EXPECT_EQ(status, 0);

    ScriptedService service;
    ASSERT_EQ(service.Start(), RPC_S_OK);
    service.Answer(Service::Connection, contracts::kConnSendText, {.status = 3});
    seam::Reset();
    client.SendText(u"second", &status);
    EXPECT_NE(client.m_hBinding, nullptr);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(seam::Names(), (Names{"query", "create", "free-descriptor", "bind", "timeout"}));
    ASSERT_EQ(service.CallCount(), 1u);
    EXPECT_EQ(service.Received()[0].args[0].text, u"second");
}

TEST_F(ClientBindingTest, SecondOperationReusesTheBinding) {
    ScriptedService service;
    ASSERT_EQ(service.Start(), RPC_S_OK);
    {
        CMorvalaAccObaRpc client;
        LONG value = 0;
        client.GetFlag(&value);
        RPC_BINDING_HANDLE first = client.m_hBinding;
        ASSERT_NE(first, nullptr);
        client.GetFlag(&value);
        EXPECT_EQ(client.m_hBinding, first);
        EXPECT_EQ(seam::Names(), (Names{"query", "create", "free-descriptor", "bind", "timeout"}));
    }
    EXPECT_EQ(seam::Names().back(), "free-binding");
    EXPECT_EQ(service.CallCount(), 2u);
}

TEST_F(ClientBindingTest, DestroyingAnUnboundObjectCallsNothing) {
    { CMorCgSvcRpc connection; }
    { CMorvalaAccObaRpc accessory; }
    EXPECT_TRUE(seam::Names().empty());
}

}  // namespace
