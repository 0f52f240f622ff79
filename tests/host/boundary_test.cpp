// The boundary convention, driven directly with small pieces of work.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "host/boundary.h"
#include "platform/object.h"
#include "support/hstring.h"

namespace {

using component::Invoke;
using morvala::test::MakeHString;
using morvala::test::ToU16;

constexpr HRESULT kUnknownStatus = static_cast<HRESULT>(0x80071234);  // in no row of the error table

struct IThing : IInspectable {
    static constexpr IID IID_{0x6D1E0F3A, 0x2B4C, 0x4D5E, {0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
};

class Thing final : public platform::RuntimeObject<Thing, IThing> {
public:
    static constexpr const char16_t* kRuntimeClassName = u"Test.Thing";
    explicit Thing(platform::ModuleCounter& module) : RuntimeObject(module) {}

private:
    ~Thing() override = default;
};

// Every kind of out-parameter, preset to a value that is not its zero.
struct Outs {
    HSTRING string = reinterpret_cast<HSTRING>(0x1);
    IThing* object = reinterpret_cast<IThing*>(0x1);
    boolean flag = 7;
    INT32 number = 7;
    EventRegistrationToken token{7};
};

// Runs `raise` as the work of every form and checks the status and the zeroed outs.
template <typename Raise>
void ExpectFailureWithZeroedOuts(HRESULT expected, Raise raise) {
    Outs outs;
    EXPECT_EQ(Invoke(raise), expected) << "no out-parameter";
    EXPECT_EQ(Invoke(&outs.string, [&]() -> platform::UniqueHString { raise(); return MakeHString(u"x"); }), expected);
    EXPECT_EQ(outs.string, nullptr);
    EXPECT_EQ(Invoke(&outs.object, [&]() -> platform::ComPtr<IThing> { raise(); return {}; }), expected);
    EXPECT_EQ(outs.object, nullptr);
    EXPECT_EQ(Invoke(&outs.flag, [&] { raise(); return true; }), expected);
    EXPECT_EQ(outs.flag, 0);
    EXPECT_EQ(Invoke(&outs.number, [&] { raise(); return INT32{5}; }), expected);
    EXPECT_EQ(outs.number, 0);
    EXPECT_EQ(Invoke(&outs.token, [&] { raise(); return EventRegistrationToken{5}; }), expected);
    EXPECT_EQ(outs.token.value, 0);
    Outs pair;
    EXPECT_EQ(Invoke(&pair.number, &pair.string, [&] {
                  raise();
                  return std::pair{INT32{1}, MakeHString(u"x")};
              }),
              expected);
    EXPECT_EQ(pair.number, 0);
    EXPECT_EQ(pair.string, nullptr);
}

TEST(Boundary, RuntimeErrorLeavesAsItsStatusWithZeroedOuts) {
    ExpectFailureWithZeroedOuts(E_INVALIDARG, [] { platform::RaiseForStatus(E_INVALIDARG); });
    ExpectFailureWithZeroedOuts(E_BOUNDS, [] { throw platform::OutOfBoundsException(); });
    ExpectFailureWithZeroedOuts(RPC_E_DISCONNECTED, [] { platform::ThrowIfFailed(RPC_E_DISCONNECTED); });
}

TEST(Boundary, StatusOutsideTheTablePassesUnchanged) {
    ExpectFailureWithZeroedOuts(kUnknownStatus, [] { platform::RaiseForStatus(kUnknownStatus); });
    ExpectFailureWithZeroedOuts(HRESULT_FROM_WIN32(1722), [] { throw platform::RpcException(1722); });
}

TEST(Boundary, ErrorCarryingASuccessCodeCannotReportSuccess) {
    ExpectFailureWithZeroedOuts(E_UNEXPECTED, [] { throw platform::COMException(S_FALSE); });
}

TEST(Boundary, ResultsAreStoredAndOwnershipPasses) {
    HSTRING string = nullptr;
    ASSERT_EQ(Invoke(&string, [] { return MakeHString(u"text"); }), S_OK);
    EXPECT_EQ(ToU16(string), u"text");
    WindowsDeleteString(string);

    boolean flag = 0;
    ASSERT_EQ(Invoke(&flag, [] { return true; }), S_OK);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(Invoke(&flag, [] { return boolean{2}; }), S_OK);
    EXPECT_EQ(flag, 1) << "a Boolean leaves as 0 or 1";

    EventRegistrationToken token{};
    ASSERT_EQ(Invoke(&token, [] { return EventRegistrationToken{INT64_C(0x123456789A)}; }), S_OK);
    EXPECT_EQ(token.value, INT64_C(0x123456789A));

    INT32 found = 0;
    string = nullptr;
    ASSERT_EQ(Invoke(&found, &string, [] { return std::pair{INT32{1}, MakeHString(u"v")}; }), S_OK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(ToU16(string), u"v");
    WindowsDeleteString(string);

    platform::ModuleCounter module;
    IInspectable* object = nullptr;
    ASSERT_EQ(Invoke(&object, [&] {
                  auto thing = platform::MakeObject<Thing>(module);
                  return platform::ComPtr<IInspectable>::Attach(static_cast<IThing*>(thing.detach()));
              }),
              S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->Release(), 0u) << "the caller received the only reference";
    EXPECT_EQ(module.Count(), 0u);
}

TEST(Boundary, ResultMadeBeforeAFailureIsReleased) {
    platform::ModuleCounter module;
    IThing* out = nullptr;
    EXPECT_EQ(Invoke(&out, [&]() -> platform::ComPtr<IThing> {
                  auto thing = platform::MakeObject<Thing>(module);
                  throw platform::FailureException();
              }),
              E_FAIL);
    EXPECT_EQ(module.Count(), 0u);
}

TEST(Boundary, NullOutParameterIsRefusedWithoutRunningTheWork) {
    bool ran = false;
    EXPECT_EQ(Invoke(static_cast<boolean*>(nullptr), [&] { ran = true; return true; }), E_POINTER);
    INT32 found = 7;
    EXPECT_EQ(Invoke(&found, static_cast<HSTRING*>(nullptr), [&] {
                  ran = true;
                  return std::pair{INT32{1}, platform::UniqueHString()};
              }),
              E_POINTER);
    EXPECT_EQ(found, 0) << "the out-parameter that was given keeps the caller's stale value";
    HSTRING text = reinterpret_cast<HSTRING>(uintptr_t{0x10});
    EXPECT_EQ(Invoke(static_cast<INT32*>(nullptr), &text, [&] {
                  ran = true;
                  return std::pair{INT32{1}, platform::UniqueHString()};
              }),
              E_POINTER);
    EXPECT_EQ(text, nullptr) << "the out-parameter that was given keeps the caller's stale value";
    EXPECT_FALSE(ran);
}

using BoundaryDeathTest = ::testing::Test;

TEST_F(BoundaryDeathTest, AllocationFailureEndsTheProcess) {
    EXPECT_EXIT(Invoke([] { throw std::bad_alloc(); }), ::testing::KilledBySignal(SIGABRT),
                "fail-fast: status 0x8007000E");
}

TEST_F(BoundaryDeathTest, StandardLibraryErrorEndsTheProcess) {
    EXPECT_EXIT(
        {
            INT32 out = 0;
            Invoke(&out, []() -> INT32 { return static_cast<INT32>(std::string("ab").at(5)); });
        },
        ::testing::KilledBySignal(SIGABRT), "fail-fast: status 0x8000FFFF");
}

}  // namespace
