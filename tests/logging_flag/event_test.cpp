// The static event GPSLoggingSettingsChanged: who is called in a raise and in
// the next one, what a failing handler does to the setter's result, changes
// of registrations made from inside a raise, and the storage's lifetime.
#include <unistd.h>
#include <sys/wait.h>

#include "flag_fixture.h"

namespace logging_flag_test {
namespace {

using EventTest = LoggingFlagTest;

struct SecondHandlerCase {
    const char* name;
    HRESULT invokeAnswer;  // of the second handler's first Invoke
    HRESULT queryAnswer;   // of the first query for its delegate interface
    HRESULT setterStatus;
    std::vector<int> firstRaise;   // handlers called (the second is logged only when Invoke ran)
    std::vector<int> secondRaise;  // the next raise, all answering S_OK
    bool secondStaysRegistered;
};

std::vector<int> Handlers(const std::vector<Call>& calls) {
    std::vector<int> ids;
    for (const Call& call : calls) ids.push_back(call.handler);
    return ids;
}

// Three handlers; the second answers something other than S_OK once.
TEST_F(EventTest, SecondOfThreeHandlersAnswersOnce) {
    const SecondHandlerCase cases[] = {
        {"Invoke answers RPC_E_DISCONNECTED", RPC_E_DISCONNECTED, S_OK, S_OK, {1, 2, 3}, {1, 3}, false},
        {"query answers RPC_E_DISCONNECTED", S_OK, RPC_E_DISCONNECTED, S_OK, {1, 3}, {1, 3}, false},
        {"Invoke answers E_FAIL", E_FAIL, S_OK, E_FAIL, {1, 2}, {1, 2, 3}, true},
        {"query answers E_NOINTERFACE", S_OK, E_NOINTERFACE, E_NOINTERFACE, {1}, {1, 2, 3}, true},
        {"Invoke answers a code outside the table", static_cast<HRESULT>(0x80070490), S_OK,
         static_cast<HRESULT>(0x80070490), {1, 2}, {1, 2, 3}, true},
        {"Invoke answers S_FALSE (a success)", S_FALSE, S_OK, S_OK, {1, 2, 3}, {1, 2, 3}, true},
    };
    for (const SecondHandlerCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteServiceKey();
        CreateServiceKey();
        auto first = TestHandler::Make(1, log_);
        auto second = TestHandler::Make(2, log_, FailOnce(c.invokeAnswer));
        auto third = TestHandler::Make(3, log_);
        if (FAILED(c.queryAnswer)) second->FailNextQuery(c.queryAnswer);
        EventRegistrationToken tokens[] = {Add(first.get()), Add(second.get()), Add(third.get())};

        boolean result = 7;
        EXPECT_EQ(Set(1, &result), c.setterStatus);
        EXPECT_EQ(result, SUCCEEDED(c.setterStatus) ? 1 : 0) << "a failed member leaves its result at false";
        EXPECT_EQ(ReadFlag(), Dword(1)) << "the write comes before the raise, whatever the raise does";
        EXPECT_EQ(Handlers(log_.Take()), c.firstRaise);
        // The failed raise released what it held: the test's reference and the
        // registration's, or the test's alone once the handler was dropped.
        EXPECT_EQ(second->References(), c.secondStaysRegistered ? 2u : 1u);

        EXPECT_TRUE(SetOk(false));
        EXPECT_EQ(log_.Take(), [&] {
            std::vector<Call> expected;
            for (int id : c.secondRaise) expected.push_back({id, false});
            return expected;
        }());
        for (EventRegistrationToken token : tokens) Remove(token);
        EXPECT_EQ(first->References(), 1u);
        EXPECT_EQ(second->References(), 1u);
        EXPECT_EQ(third->References(), 1u);
    }
}

TEST_F(EventTest, AddAndRemoveByToken) {
    CreateServiceKey();
    auto handler = TestHandler::Make(1, log_);
    EventRegistrationToken token = Add(handler.get());
    EXPECT_EQ(handler->References(), 2u) << "the registration holds a reference";
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}}));
    Remove(token);
    EXPECT_EQ(handler->References(), 1u);
    EXPECT_TRUE(SetOk(false));
    EXPECT_TRUE(log_.Take().empty());
}

TEST_F(EventTest, OneHandlerAddedTwiceIsTwoRegistrations) {
    CreateServiceKey();
    auto handler = TestHandler::Make(1, log_);
    EventRegistrationToken firstToken = Add(handler.get());
    EventRegistrationToken secondToken = Add(handler.get());
    EXPECT_NE(firstToken.value, secondToken.value);
    SetOk(true);
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}, {1, true}}));
    Remove(firstToken);
    SetOk(true);
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}}));
    Remove(firstToken);  // already gone: changes nothing
    SetOk(true);
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}}));
    Remove(secondToken);
    SetOk(true);
    EXPECT_TRUE(log_.Take().empty());
    EXPECT_EQ(handler->References(), 1u);
}

TEST_F(EventTest, NullHandlerIsRefusedWithTokenZero) {
    EventRegistrationToken token{0x1234};
    EXPECT_EQ(statics_->add_GPSLoggingSettingsChanged(nullptr, &token), E_INVALIDARG);
    EXPECT_EQ(token.value, 0);
    auto handler = TestHandler::Make(1, log_);
    EXPECT_EQ(statics_->add_GPSLoggingSettingsChanged(handler.get(), nullptr), E_POINTER);
    EXPECT_EQ(handler->References(), 1u) << "nothing registered";
}

TEST_F(EventTest, UnknownTokensChangeNothing) {
    CreateServiceKey();
    auto handler = TestHandler::Make(1, log_);
    EventRegistrationToken token = Add(handler.get());
    for (int64_t unknown : {int64_t{0}, int64_t{1}, token.value + 1, token.value ^ (int64_t{1} << 50), int64_t{-1}}) {
        EXPECT_EQ(statics_->remove_GPSLoggingSettingsChanged(EventRegistrationToken{unknown}), S_OK) << unknown;
    }
    SetOk(true);
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}}));
    Remove(token);
}

TEST_F(EventTest, RemovingALaterHandlerDuringARaiseTakesEffectNextTime) {
    CreateServiceKey();
    EventRegistrationToken thirdToken{0};
    auto first = TestHandler::Make(1, log_, [&](bool) { return statics_->remove_GPSLoggingSettingsChanged(thirdToken); });
    auto second = TestHandler::Make(2, log_);
    auto third = TestHandler::Make(3, log_);
    EventRegistrationToken firstToken = Add(first.get());
    EventRegistrationToken secondToken = Add(second.get());
    thirdToken = Add(third.get());
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{1, 2, 3})) << "the raise runs over its snapshot";
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{1, 2}));
    EXPECT_EQ(third->References(), 1u);
    Remove(firstToken);
    Remove(secondToken);
}

TEST_F(EventTest, HandlerRemovingItselfFinishesItsCall) {
    CreateServiceKey();
    EventRegistrationToken ownToken{0};
    ULONG referencesDuringCall = 0;
    TestHandler* self = nullptr;
    auto first = TestHandler::Make(1, log_, [&](bool) {
        HRESULT hr = statics_->remove_GPSLoggingSettingsChanged(ownToken);
        referencesDuringCall = self->References();  // still alive: the raise holds it
        return hr;
    });
    self = first.get();
    auto second = TestHandler::Make(2, log_);
    ownToken = Add(first.get());
    EventRegistrationToken secondToken = Add(second.get());
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{1, 2}));
    EXPECT_GE(referencesDuringCall, 2u);
    EXPECT_EQ(first->References(), 1u);
    EXPECT_TRUE(SetOk(false));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{2}));
    Remove(secondToken);
}

TEST_F(EventTest, HandlerAddedDuringARaiseIsFirstCalledNextTime) {
    CreateServiceKey();
    auto added = TestHandler::Make(3, log_);
    EventRegistrationToken addedToken{0};
    auto first = TestHandler::Make(1, log_, [&](bool) {
        if (addedToken.value != 0) return S_OK;
        return statics_->add_GPSLoggingSettingsChanged(added.get(), &addedToken);
    });
    auto second = TestHandler::Make(2, log_);
    EventRegistrationToken tokens[] = {Add(first.get()), Add(second.get())};
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{1, 2}));
    EXPECT_NE(addedToken.value, 0);
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(Handlers(log_.Take()), (std::vector<int>{1, 2, 3}));
    for (EventRegistrationToken token : tokens) Remove(token);
    Remove(addedToken);
}

TEST_F(EventTest, SetFromInsideAHandlerWritesAndRaisesNested) {
    CreateServiceKey();
    auto first = TestHandler::Make(1, log_, [&](bool value) {
        if (!value) return S_OK;
        boolean nestedResult = 0;
        HRESULT hr = statics_->SetDisconnectionLoggingNeeded(0, &nestedResult);
        boolean read = 1;
        if (SUCCEEDED(hr)) hr = statics_->GetDisconnectionLoggingNeeded(&read);
        return SUCCEEDED(hr) && nestedResult == 1 && read == 0 ? S_OK : E_FAIL;
    });
    auto second = TestHandler::Make(2, log_);
    EventRegistrationToken tokens[] = {Add(first.get()), Add(second.get())};
    EXPECT_TRUE(SetOk(true));
    EXPECT_EQ(log_.Take(), (std::vector<Call>{{1, true}, {1, false}, {2, false}, {2, true}}));
    EXPECT_EQ(ReadFlag(), Dword(0)) << "the nested write came last";
    EXPECT_FALSE(Get());
    for (EventRegistrationToken token : tokens) Remove(token);
}

TEST_F(EventTest, UnloadDropsRegistrationsAndALoadStartsEmpty) {
    CreateServiceKey();
    auto handler = TestHandler::Make(1, log_);
    Add(handler.get());
    EXPECT_EQ(handler->References(), 2u);
    statics_.reset();
    ASSERT_EQ(RoUnloadLibrary(morvala::test::ComponentPath()), S_OK) << "handlers are not objects of the component";
    EXPECT_EQ(handler->References(), 1u) << "the unload released the registration";

    statics_ = morvala::test::GetFactory<Statics>(abi::RuntimeClass_RegistryManager);
    ASSERT_TRUE(statics_);
    EXPECT_TRUE(SetOk(true));
    EXPECT_TRUE(log_.Take().empty()) << "a fresh load has no handler";
}

// At unload the shared instance goes before the handler list: a handler
// released by the list's teardown finds the shared instance already gone.
// Runs in a child, since the shared instance keeps the library loaded until
// the process-exit detach.
TEST_F(EventTest, HandlerListIsTornDownAfterTheSharedInstance) {
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        platform::ComPtr<abi::__IRegistryManagerPublicNonVirtuals> instance;
        platform::ComPtr<IWeakReferenceSource> source;
        platform::ComPtr<IWeakReference> weak;
        if (statics_->GetInstance(instance.put()) != S_OK || instance.As(source) != S_OK ||
            source->GetWeakReference(weak.put()) != S_OK) {
            _exit(2);
        }
        source.reset();
        instance.reset();
        // The body runs when the handler is destroyed: from the list's teardown.
        struct Probe {
            platform::ComPtr<IWeakReference> weak;
            ~Probe() {
                platform::ComPtr<IInspectable> resolved;
                if (weak->Resolve(IInspectable::IID_, resolved.put()) != S_OK) _exit(3);
                _exit(resolved ? 4 : 0);
            }
        };
        auto probe = std::make_shared<Probe>();
        probe->weak = weak;
        CallLog log;
        auto handler = TestHandler::Make(1, log, [probe](bool) { return S_OK; });
        EventRegistrationToken token{0};
        if (statics_->add_GPSLoggingSettingsChanged(handler.get(), &token) != S_OK) _exit(5);
        handler.reset();
        probe.reset();
        statics_.reset();
        RoUninitializeLibrariesForExit();
        _exit(6);  // the handler was not released by the unload
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace logging_flag_test
