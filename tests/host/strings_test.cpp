// The component's two ways of building a String.
#include <gtest/gtest.h>

#include <string>

#include "host/boundary.h"
#include "host/strings.h"
#include "support/hstring.h"

namespace {

using component::StringFromCounted;
using component::StringFromNulTerminated;
using morvala::test::ToU16;

struct StringCase {
    const char* name;
    platform::UniqueHString (*make)();
    std::u16string units;  // empty: the null handle
};

class StringConstructionTest : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringConstructionTest, GivesTheExpectedUnits) {
    platform::UniqueHString made = GetParam().make();
    EXPECT_EQ(ToU16(made.get()), GetParam().units);
    EXPECT_EQ(made.get() == nullptr, GetParam().units.empty()) << "the empty String is the null handle";
}

const char16_t kWithNul[] = u"ab\0cd";

INSTANTIATE_TEST_SUITE_P(
    Cases, StringConstructionTest,
    ::testing::Values(
        StringCase{"TerminatedNull", [] { return StringFromNulTerminated(nullptr); }, u""},
        StringCase{"TerminatedEmpty", [] { return StringFromNulTerminated(u""); }, u""},
        StringCase{"TerminatedText", [] { return StringFromNulTerminated(u"abc"); }, u"abc"},
        StringCase{"TerminatedStopsAtFirstNul", [] { return StringFromNulTerminated(kWithNul); }, u"ab"},
        StringCase{"CountedNullWithLength", [] { return StringFromCounted(nullptr, 5); }, u""},
        StringCase{"CountedLengthZero", [] { return StringFromCounted(u"abc", 0); }, u""},
        StringCase{"CountedPrefix", [] { return StringFromCounted(u"abcdef", 3); }, u"abc"},
        StringCase{"CountedKeepsNuls", [] { return StringFromCounted(kWithNul, 5); }, std::u16string(kWithNul, 5)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StringConstruction, TooLongForAStringLeavesAsOutOfMemory) {
    HSTRING out = reinterpret_cast<HSTRING>(0x1);
    EXPECT_EQ(component::Invoke(&out, [] { return StringFromCounted(u"x", size_t{1} << 32); }), E_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
}

}  // namespace
