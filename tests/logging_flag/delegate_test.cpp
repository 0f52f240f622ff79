// The header-only handler for C++ applications: what it answers, what Invoke
// reports for each way a callable can end, and its lifetime. It is compiled
// here the way an application compiles it, from the public headers alone.
#include "MorvalaFrameworkUiWinPRT_delegates.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "flag_fixture.h"

namespace logging_flag_test {
namespace {

using abi::HandlerStatus;
using abi::MakeGPSLoggingSettingsCallback;

template <typename Callable>
platform::ComPtr<Callback> MakeHandler(Callable&& callable) {
    Callback* raw = nullptr;
    EXPECT_EQ(MakeGPSLoggingSettingsCallback(std::forward<Callable>(callable), &raw), S_OK);
    return platform::ComPtr<Callback>::Attach(raw);
}

TEST(DelegateTest, AnswersItsThreeIdentitiesOnly) {
    auto handler = MakeHandler([](bool) {});
    struct Case {
        const char* name;
        IID iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {"IUnknown", IUnknown::IID_, S_OK},
        {"delegate", Callback::IID_, S_OK},
        {"IAgileObject", IAgileObject::IID_, S_OK},
        {"IInspectable", IInspectable::IID_, E_NOINTERFACE},
        {"IMarshal", IMarshal::IID_, E_NOINTERFACE},
        {"IWeakReferenceSource", IWeakReferenceSource::IID_, E_NOINTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* answer = reinterpret_cast<void*>(1);
        EXPECT_EQ(handler->QueryInterface(c.iid, &answer), c.expected);
        if (c.expected == S_OK) {
            EXPECT_EQ(answer, static_cast<void*>(handler.get()));
            EXPECT_EQ(static_cast<IUnknown*>(answer)->Release(), 1u);
        } else {
            EXPECT_EQ(answer, nullptr);
        }
    }
    EXPECT_EQ(handler->QueryInterface(IUnknown::IID_, nullptr), E_POINTER);
}

TEST(DelegateTest, InvokeReportsHowTheCallableEnded) {
    struct Case {
        const char* name;
        std::function<HRESULT(bool)> callable;
        HRESULT expected;
    };
    const Case cases[] = {
        {"returns S_OK", [](bool) { return S_OK; }, S_OK},
        {"returns S_FALSE", [](bool) { return S_FALSE; }, S_FALSE},
        {"returns E_FAIL", [](bool) { return E_FAIL; }, E_FAIL},
        {"returns RPC_E_DISCONNECTED", [](bool) { return RPC_E_DISCONNECTED; }, RPC_E_DISCONNECTED},
        {"throws HandlerStatus(E_ACCESSDENIED)", [](bool) -> HRESULT { throw HandlerStatus(E_ACCESSDENIED); },
         E_ACCESSDENIED},
        {"throws HandlerStatus(S_OK)", [](bool) -> HRESULT { throw HandlerStatus(S_OK); }, E_UNEXPECTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MakeHandler(c.callable)->Invoke(1), c.expected);
    }
}

TEST(DelegateTest, CallableWithoutResultReceivesTheValue) {
    std::vector<bool> seen;
    auto handler = MakeHandler([&seen](bool value) { seen.push_back(value); });
    EXPECT_EQ(handler->Invoke(1), S_OK);
    EXPECT_EQ(handler->Invoke(0), S_OK);
    EXPECT_EQ(handler->Invoke(2), S_OK);  // any non-zero byte is true
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
}

TEST(DelegateTest, AnyOtherExceptionEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto handler = MakeHandler([](bool) { throw std::runtime_error("application bug"); });
    EXPECT_DEATH(handler->Invoke(1), "");
}

TEST(DelegateTest, LastReleaseDestroysTheCallable) {
    auto token = std::make_shared<int>(0);
    auto handler = MakeHandler([token](bool) {});
    EXPECT_EQ(token.use_count(), 2);
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
    handler.reset();
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_EQ(MakeGPSLoggingSettingsCallback([](bool) {}, nullptr), E_POINTER);
}

// An application's handler through the component: its value arrives, its
// thrown status reaches the setter's caller, and RPC_E_DISCONNECTED drops it.
using DelegateThroughComponentTest = LoggingFlagTest;

TEST_F(DelegateThroughComponentTest, StatusesTravelThroughTheEvent) {
    CreateServiceKey();
    std::vector<bool> seen;
    HRESULT next = S_OK;
    auto handler = MakeHandler([&](bool value) {
        seen.push_back(value);
        if (FAILED(next)) throw HandlerStatus(next);
    });
    EventRegistrationToken token = Add(handler.get());
    EXPECT_TRUE(SetOk(true));
    next = E_ACCESSDENIED;
    boolean result = 7;
    EXPECT_EQ(Set(0, &result), E_ACCESSDENIED);
    EXPECT_EQ(result, 0);
    next = RPC_E_DISCONNECTED;
    EXPECT_TRUE(SetOk(true));
    next = S_OK;
    EXPECT_TRUE(SetOk(false));  // dropped: not called
    EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
    Remove(token);  // already gone: changes nothing
}

}  // namespace
}  // namespace logging_flag_test
