// RpcWrapper's seven members with bad input through the ABI, against the
// scripted service (which records what reached it). Texts travel as
// NUL-terminated wire strings, so a String reaches the service up to its
// first NUL; absent Strings are empty texts; null out-parameters answer
// E_POINTER before anything is sent.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "MorvalaFrameworkUiWinPRT.h"
#include "bad_input_support.h"
#include "scripted_service.h"
#include "support/component_loader.h"

namespace {

using namespace bad_input;
using morvala::services::Reply;
using morvala::services::ScriptedService;
using morvala::services::Service;
using Rpc = MorvalaFrameworkUiWinPRT::__IRpcWrapperPublicNonVirtuals;

class RpcWrapperBadInput : public morvala::test::ComponentTest {
protected:
    void SetUp() override {
        auto factory = morvala::test::GetFactory<IActivationFactory>(MorvalaFrameworkUiWinPRT::RuntimeClass_RpcWrapper);
        ASSERT_TRUE(factory);
        platform::ComPtr<IInspectable> instance;
        ASSERT_EQ(factory->ActivateInstance(instance.put()), S_OK);
        ASSERT_EQ(instance.As(rpc_), S_OK);
        ASSERT_EQ(service_.Start(), RPC_S_OK);
        service_.Answer(Service::Connection, 3, Reply{.status = 1, .bytes = {'1', '.', '2'}});
        service_.Answer(Service::Accessory, 3, Reply{.status = 1, .bytes = {'3', '.', '4'}});
        service_.Answer(Service::Accessory, 1, Reply{.status = 1});
        service_.Answer(Service::Connection, 9, Reply{.returnValue = 1});
    }

    // The texts of the calls the service received, in order, as (opnum, texts).
    std::vector<std::pair<uint16_t, std::vector<std::u16string>>> TakeCalls() {
        std::vector<std::pair<uint16_t, std::vector<std::u16string>>> calls;
        for (const auto& call : service_.Received()) {
            std::vector<std::u16string> texts;
            for (const auto& arg : call.args) {
                if (arg.kind == RPC_FC_WSTRING) texts.push_back(arg.text);
            }
            calls.emplace_back(call.opnum, texts);
        }
        service_.ClearReceived();
        return calls;
    }

    platform::ComPtr<Rpc> rpc_;
    ScriptedService service_;
};

using Calls = std::vector<std::pair<uint16_t, std::vector<std::u16string>>>;

TEST_F(RpcWrapperBadInput, NullOutParametersAnswerEPointerAndSendNothing) {
    Rpc& r = *rpc_.get();
    RunAll({
        {"GetAccessoryServiceFlag", [&] { EXPECT_EQ(r.GetAccessoryServiceFlag(nullptr), E_POINTER); }},
        {"SendAccessoryServiceTexts",
         [&] { EXPECT_EQ(r.SendAccessoryServiceTexts(S(u"a").get(), S(u"b").get(), S(u"c").get(), nullptr), E_POINTER); }},
        {"CheckConnectionServiceText", [&] { EXPECT_EQ(r.CheckConnectionServiceText(S(u"a").get(), nullptr), E_POINTER); }},
        {"GetConnectionServiceText", [&] { EXPECT_EQ(r.GetConnectionServiceText(nullptr), E_POINTER); }},
        {"GetAccessoryServiceText", [&] { EXPECT_EQ(r.GetAccessoryServiceText(nullptr), E_POINTER); }},
    });
    EXPECT_EQ(service_.CallCount(), 0u) << "a refused call reached the service";
}

TEST_F(RpcWrapperBadInput, AbsentStringsTravelAsEmptyTexts) {
    Rpc& r = *rpc_.get();
    boolean result = 2;
    RunAll({
        {"SendConnectionServiceText sends an empty text",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceText(nullptr), S_OK);
             EXPECT_EQ(TakeCalls(), Calls({{0, {u""}}}));
         }},
        {"SendConnectionServiceNonEmptyText sends nothing",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceNonEmptyText(nullptr), S_OK);
             EXPECT_EQ(TakeCalls(), Calls{});
         }},
        {"SendAccessoryServiceTexts sends three empty texts",
         [&] {
             EXPECT_EQ(r.SendAccessoryServiceTexts(nullptr, nullptr, nullptr, &result), S_OK);
             EXPECT_LE(result, 1);
             EXPECT_EQ(TakeCalls(), Calls({{2, {u"", u"", u""}}}));
         }},
        {"CheckConnectionServiceText answers false without a call",
         [&] {
             EXPECT_EQ(r.CheckConnectionServiceText(nullptr, &result), S_OK);
             EXPECT_EQ(result, 0);
             EXPECT_EQ(TakeCalls(), Calls{});
         }},
    });
}

TEST_F(RpcWrapperBadInput, EmbeddedNulsEndTheWireText) {
    Rpc& r = *rpc_.get();
    boolean result = 2;
    RunAll({
        {"SendConnectionServiceText",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceText(S(std::u16string(u"ab\0cd", 5)).get()), S_OK);
             EXPECT_EQ(TakeCalls(), Calls({{0, {u"ab"}}}));
         }},
        {"SendConnectionServiceNonEmptyText",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceNonEmptyText(S(std::u16string(u"x\0y", 3)).get()), S_OK);
             EXPECT_EQ(TakeCalls(), Calls({{8, {u"x"}}}));
         }},
        {"SendAccessoryServiceTexts",
         [&] {
             EXPECT_EQ(r.SendAccessoryServiceTexts(S(std::u16string(u"\0a", 2)).get(), S(std::u16string(u"b\0", 2)).get(),
                                                   S(u"c").get(), &result),
                       S_OK);
             EXPECT_EQ(TakeCalls(), Calls({{2, {u"", u"b", u"c"}}}));
         }},
        {"CheckConnectionServiceText",
         [&] {
             EXPECT_EQ(r.CheckConnectionServiceText(S(std::u16string(u"ok\0no", 5)).get(), &result), S_OK);
             EXPECT_EQ(result, 1);
             EXPECT_EQ(TakeCalls(), Calls({{9, {u"ok"}}}));
         }},
        {"a String that starts with NUL has an empty wire text: the members that skip empty texts skip it",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceNonEmptyText(S(std::u16string(u"\0abc", 4)).get()), S_OK);
             EXPECT_EQ(r.CheckConnectionServiceText(S(std::u16string(u"\0abc", 4)).get(), &result), S_OK);
             EXPECT_EQ(result, 0);
             EXPECT_EQ(TakeCalls(), Calls{});
         }},
    });
}

TEST_F(RpcWrapperBadInput, LongAndUnpairedTextsArriveWhole) {
    Rpc& r = *rpc_.get();
    boolean result = 2;
    const std::u16string big = Letters(16384);
    const std::u16string surrogates = {0xD800, u'a', 0xDC00, 0xFFFF};
    RunAll({
        {"16,384 units",
         [&] {
             EXPECT_EQ(r.SendConnectionServiceText(S(big).get()), S_OK);
             EXPECT_EQ(r.SendAccessoryServiceTexts(S(big).get(), S(big).get(), S(big).get(), &result), S_OK);
             EXPECT_EQ(TakeCalls(), Calls({{0, {big}}, {2, {big, big, big}}}));
         }},
        {"lone surrogates and noncharacters",
         [&] {
             EXPECT_EQ(r.CheckConnectionServiceText(S(surrogates).get(), &result), S_OK);
             EXPECT_EQ(result, 1);
             EXPECT_EQ(TakeCalls(), Calls({{9, {surrogates}}}));
         }},
        {"the results are still right after all that",
         [&] {
             HSTRING text = nullptr;
             EXPECT_EQ(r.GetConnectionServiceText(&text), S_OK);
             EXPECT_EQ(morvala::test::ToU16(text), u"1.2");
             WindowsDeleteString(text);
             EXPECT_EQ(r.GetAccessoryServiceText(&text), S_OK);
             EXPECT_EQ(morvala::test::ToU16(text), u"3.4");
             WindowsDeleteString(text);
             EXPECT_EQ(r.GetAccessoryServiceFlag(&result), S_OK);
             EXPECT_EQ(result, 1);
         }},
    });
}

}  // namespace
