// Replies that break the contract, faults, a dropped connection and a
// service slower than the client's timeout: the call fails with the RPC
// error, nothing is written into or past the caller's buffer, and the
// outputs keep what they held before the call.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "accessory_service_client.h"
#include "connection_service_client.h"
#include "contracts/accessory_service.h"
#include "contracts/connection_service.h"
#include "fresh_root.h"
#include "platform/errors.h"
#include "scripted_service.h"

namespace {

using namespace std::chrono_literals;
using morvala::services::Reply;
using morvala::services::ScriptedService;
using morvala::services::Service;
using morvala::services::StubWriter;

constexpr ULONG kCapacity = 16;
constexpr LONG kSentinel = 77;

// A buffer of kCapacity elements inside a larger guarded area.
struct Guarded {
    uint8_t area[4 * kCapacity];
    Guarded() { std::memset(area, 0xA5, sizeof area); }
    bool Untouched() const {
        for (uint8_t byte : area) {
            if (byte != 0xA5) return false;
        }
        return true;
    }
};

std::vector<uint8_t> Filled(size_t n) { return std::vector<uint8_t>(n, 'x'); }

struct Target {
    const char* name;
    Service service;
    uint16_t opnum;
    bool presetsStatus;  // the connection client presets status to 0 before the call
    std::function<void(Guarded&, ULONG*, LONG*)> call;
};

const Target kConnectionGetText{"connection GetText", Service::Connection, contracts::kConnGetText, true,
                                [](Guarded& g, ULONG* count, LONG* status) {
                                    CMorCgSvcRpc().GetText(reinterpret_cast<char*>(g.area), count, status);
                                }};
const Target kAccessoryGetText{"accessory GetText", Service::Accessory, contracts::kAccGetText, false,
                               [](Guarded& g, ULONG* count, LONG* status) {
                                   CMorvalaAccObaRpc().GetText(reinterpret_cast<char*>(g.area), count, status);
                               }};
const Target kConnectionProc2{"connection Proc2", Service::Connection, contracts::kConnProc2, true,
                              [](Guarded& g, ULONG* count, LONG* status) {
                                  CMorCgSvcRpc().Proc2(reinterpret_cast<WCHAR*>(g.area), count, status);
                              }};
const Target kConnectionCheckText{"connection CheckText", Service::Connection, contracts::kConnCheckText, true,
                                  [](Guarded&, ULONG*, LONG* status) { CMorCgSvcRpc().CheckText(u"t", status); }};
const Target kAccessoryProc0{"accessory Proc0", Service::Accessory, contracts::kAccProc0, false,
                             [](Guarded&, ULONG*, LONG*) { CMorvalaAccObaRpc().Proc0(u"a", u"b", 1, 2); }};

struct Case {
    const char* name;
    const Target* target;
    Reply reply;
    RPC_STATUS expected;
};

std::vector<Case> Cases() {
    const uint32_t over = kCapacity + 1;
    return {
        {"count above the capacity", &kConnectionGetText,
         {.rawResponseStub = StubWriter().U32(over).Bytes(Filled(over)).U32(over).U32(1).Take()}, RPC_X_BAD_STUB_DATA},
        {"count above the capacity", &kAccessoryGetText,
         {.rawResponseStub = StubWriter().U32(over).Bytes(Filled(over)).U32(over).U32(1).Take()}, RPC_X_BAD_STUB_DATA},
        {"conformance below the count", &kConnectionGetText,
         {.rawResponseStub = StubWriter().U32(5).Bytes(Filled(5)).U32(6).U32(1).Take()}, RPC_X_BAD_STUB_DATA},
        {"conformance above the count", &kAccessoryGetText,
         {.rawResponseStub = StubWriter().U32(6).Bytes(Filled(6)).U32(5).U32(1).Take()}, RPC_X_BAD_STUB_DATA},
        {"huge conformance", &kConnectionGetText,
         {.rawResponseStub = StubWriter().U32(0xFFFFFFFFu).Bytes(Filled(8)).U32(0xFFFFFFFFu).U32(1).Take()},
         RPC_X_BAD_STUB_DATA},
        {"stub cut inside the array", &kConnectionGetText,
         {.rawResponseStub = StubWriter().U32(9).Bytes(Filled(3)).Take()}, RPC_X_BAD_STUB_DATA},
        {"stub cut before the status", &kAccessoryGetText,
         {.rawResponseStub = StubWriter().U32(4).Bytes(Filled(4)).U32(4).Take()}, RPC_X_BAD_STUB_DATA},
        {"empty stub", &kConnectionGetText, {.rawResponseStub = std::vector<uint8_t>{}}, RPC_X_BAD_STUB_DATA},
        {"trailing bytes", &kConnectionGetText,
         {.rawResponseStub = StubWriter().U32(2).Bytes(Filled(2)).U32(2).U32(1).U32(0xDEAD).Take()},
         RPC_X_BAD_STUB_DATA},
        {"unit array cut in a unit", &kConnectionProc2,
         {.rawResponseStub = StubWriter().U32(3).Bytes(Filled(5)).Take()}, RPC_X_BAD_STUB_DATA},
        {"unit count above the capacity", &kConnectionProc2,
         {.rawResponseStub =
              StubWriter().U32(over).Units(std::u16string(over, u'y')).Align4().U32(over).U32(1).Take()},
         RPC_X_BAD_STUB_DATA},
        {"return value missing", &kConnectionCheckText, {.rawResponseStub = StubWriter().U32(1).Take()},
         RPC_X_BAD_STUB_DATA},
        {"output where none is due", &kAccessoryProc0, {.rawResponseStub = StubWriter().U32(1).Take()},
         RPC_X_BAD_STUB_DATA},
        {"fault with a status", &kConnectionGetText, {.fault = RPC_S_ACCESS_DENIED}, RPC_S_ACCESS_DENIED},
        {"fault with an nca code", &kAccessoryGetText, {.fault = RPC_S_PROCNUM_OUT_OF_RANGE},
         RPC_S_PROCNUM_OUT_OF_RANGE},
        {"dropped connection", &kConnectionGetText, {.dropConnection = true}, RPC_S_CALL_FAILED},
        {"dropped connection", &kAccessoryGetText, {.dropConnection = true}, RPC_S_CALL_FAILED},
        // The minimum communication timeout waits 2 s for the reply.
        {"reply slower than the timeout", &kConnectionCheckText, {.status = 1, .delay = 3s}, RPC_S_CALL_FAILED},
    };
}

class MalformedReplyTest : public morvala::test::FreshRootTest {};

TEST_F(MalformedReplyTest, CallFailsWithTheRpcErrorAndLeavesTheCallersMemoryAlone) {
    ScriptedService service;
    ASSERT_EQ(service.Start(), RPC_S_OK);
    for (const Case& c : Cases()) {
        const Target& target = *c.target;
        SCOPED_TRACE(std::string(target.name) + ": " + c.name);
        service.Answer(target.service, target.opnum, c.reply);
        Guarded buffer;
        ULONG count = kCapacity;
        LONG status = kSentinel;
        RPC_STATUS raised = RPC_S_OK;
        try {
            target.call(buffer, &count, &status);
        } catch (const platform::RpcException& error) {
            raised = error.rpcStatus();
        }
        EXPECT_EQ(raised, c.expected);
        EXPECT_TRUE(buffer.Untouched());
        EXPECT_EQ(count, kCapacity);
        EXPECT_EQ(status, target.presetsStatus ? 0 : kSentinel);
        service.Answer(target.service, target.opnum, Reply{});
    }
    // The service and the client runtime are still fine afterwards.
    service.Answer(Service::Connection, contracts::kConnGetText, {.status = 1, .bytes = {'o', 'k'}});
    char text[kCapacity];
    ULONG count = kCapacity;
    LONG status = 0;
    CMorCgSvcRpc().GetText(text, &count, &status);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status, 1);
}

}  // namespace
