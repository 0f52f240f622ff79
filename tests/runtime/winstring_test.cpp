// The runtime's String functions against the platform's documented answers.
#include <gtest/gtest.h>

#include <string>

#include "platform/winstring.h"
#include "support/hstring.h"

namespace {

using morvala::test::MakeHString;
using morvala::test::ToU16;

struct CreateCase {
    const char* name;
    const char16_t* source;
    UINT32 length;
    HRESULT status;
    std::u16string units;  // expected contents on success
};

class CreateStringTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateStringTest, CopiesExactlyTheGivenUnits) {
    const CreateCase& c = GetParam();
    HSTRING string = reinterpret_cast<HSTRING>(0x1);  // must be overwritten
    ASSERT_EQ(WindowsCreateString(c.source, c.length, &string), c.status);
    platform::UniqueHString owned(string);
    if (FAILED(c.status) || c.units.empty()) {
        EXPECT_EQ(string, nullptr);
        return;
    }
    UINT32 length = 0;
    const WCHAR* buffer = WindowsGetStringRawBuffer(string, &length);
    EXPECT_EQ(std::u16string(buffer, length), c.units);
    EXPECT_EQ(buffer[length], u'\0') << "every String is NUL-terminated after its units";
    BOOL embedded = 0;
    ASSERT_EQ(WindowsStringHasEmbeddedNull(string, &embedded), S_OK);
    EXPECT_EQ(embedded != 0, c.units.find(u'\0') != std::u16string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreateStringTest,
    ::testing::Values(CreateCase{"EmptyLiteral", u"", 0, S_OK, u""},
                      CreateCase{"NonEmptyBufferLengthZero", u"abc", 0, S_OK, u""},
                      CreateCase{"NullBufferLengthZero", nullptr, 0, S_OK, u""},
                      CreateCase{"NullBufferWithLength", nullptr, 3, E_POINTER, u""},
                      CreateCase{"PrefixOfLongerBuffer", u"abcdef", 3, S_OK, u"abc"},
                      CreateCase{"EmbeddedNulsKept", u"a\0c\0ef", 6, S_OK, std::u16string(u"a\0c\0ef", 6)},
                      CreateCase{"TrailingNulInsideLength", u"abcdef\0", 7, S_OK, std::u16string(u"abcdef\0", 7)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CreateString, NullOutParameterIsInvalidArgument) {
    EXPECT_EQ(WindowsCreateString(u"abc", 3, nullptr), E_INVALIDARG);
    EXPECT_EQ(WindowsCreateString(nullptr, 3, nullptr), E_INVALIDARG);
}

struct ReferenceCase {
    const char* name;
    const char16_t* source;
    UINT32 length;
    HRESULT status;
};

class StringReferenceTest : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(StringReferenceTest, AnswersThePlatformStatus) {
    const ReferenceCase& c = GetParam();
    HSTRING_HEADER header;
    HSTRING string = reinterpret_cast<HSTRING>(0x1);
    EXPECT_EQ(WindowsCreateStringReference(c.source, c.length, &header, &string), c.status);
    if (FAILED(c.status) || c.length == 0) {
        EXPECT_EQ(string, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringReferenceTest,
    ::testing::Values(ReferenceCase{"NullBufferWithLength", nullptr, 5, E_POINTER},
                      ReferenceCase{"NullBufferLengthZero", nullptr, 0, S_OK},
                      ReferenceCase{"EmptyLiteral", u"", 0, S_OK},
                      ReferenceCase{"NoNulAtLength", u"abcdef", 5, E_STRING_NOT_NULL_TERMINATED},
                      ReferenceCase{"LengthZeroOverNonEmptyText", u"abcdef", 0, E_STRING_NOT_NULL_TERMINATED},
                      ReferenceCase{"Terminated", u"abcdef", 6, S_OK}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StringReference, NullHeaderOrOutParameterIsInvalidArgument) {
    HSTRING_HEADER header;
    HSTRING string = nullptr;
    EXPECT_EQ(WindowsCreateStringReference(u"abc", 3, nullptr, &string), E_INVALIDARG);
    EXPECT_EQ(WindowsCreateStringReference(u"abc", 3, &header, nullptr), E_INVALIDARG);
}

TEST(StringReference, LivesInTheHeaderOverTheCallersUnits) {
    static const char16_t text[] = u"abcdef";
    HSTRING_HEADER header;
    HSTRING string = nullptr;
    ASSERT_EQ(WindowsCreateStringReference(text, 6, &header, &string), S_OK);
    EXPECT_EQ(static_cast<void*>(string), static_cast<void*>(&header));
    EXPECT_EQ(WindowsGetStringRawBuffer(string, nullptr), text);
    EXPECT_EQ(WindowsGetStringLen(string), 6u);

    // A duplicate of a reference is a real copy that outlives the header.
    HSTRING copy = nullptr;
    ASSERT_EQ(WindowsDuplicateString(string, &copy), S_OK);
    EXPECT_NE(copy, string);
    EXPECT_NE(WindowsGetStringRawBuffer(copy, nullptr), text);
    EXPECT_EQ(ToU16(copy), u"abcdef");
    EXPECT_EQ(WindowsDeleteString(string), S_OK);
    EXPECT_EQ(WindowsDeleteString(copy), S_OK);
}

TEST(DuplicateString, HeapStringSharesTheHandleAndSurvivesOneDelete) {
    platform::UniqueHString original = MakeHString(u"shared");
    HSTRING duplicate = nullptr;
    ASSERT_EQ(WindowsDuplicateString(original.get(), &duplicate), S_OK);
    EXPECT_EQ(duplicate, original.get());
    original.reset();  // one of the two references
    EXPECT_EQ(ToU16(duplicate), u"shared");
    EXPECT_EQ(WindowsDeleteString(duplicate), S_OK);
}

TEST(DuplicateString, NullCases) {
    HSTRING duplicate = reinterpret_cast<HSTRING>(0x1);
    EXPECT_EQ(WindowsDuplicateString(nullptr, &duplicate), S_OK);
    EXPECT_EQ(duplicate, nullptr);
    platform::UniqueHString text = MakeHString(u"x");
    EXPECT_EQ(WindowsDuplicateString(text.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(WindowsDeleteString(nullptr), S_OK);
}

TEST(NullString, IsTheEmptyString) {
    UINT32 length = 99;
    const WCHAR* buffer = WindowsGetStringRawBuffer(nullptr, &length);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(length, 0u);
    EXPECT_NE(WindowsGetStringRawBuffer(nullptr, nullptr), nullptr);
    EXPECT_EQ(WindowsGetStringLen(nullptr), 0u);
    EXPECT_TRUE(WindowsIsStringEmpty(nullptr));
}

struct CompareCase {
    const char* name;
    std::u16string first;  // the empty text stands for the null handle
    std::u16string second;
    INT32 result;
};

class CompareOrdinalTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareOrdinalTest, ComparesUnitsThenLengths) {
    const CompareCase& c = GetParam();
    platform::UniqueHString first = MakeHString(c.first);
    platform::UniqueHString second = MakeHString(c.second);
    INT32 result = 42;
    ASSERT_EQ(WindowsCompareStringOrdinal(first.get(), second.get(), &result), S_OK);
    EXPECT_EQ(result, c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareOrdinalTest,
    ::testing::Values(CompareCase{"Less", u"abc", u"def", -1}, CompareCase{"Greater", u"def", u"abc", 1},
                      CompareCase{"Equal", u"abc", u"abc", 0}, CompareCase{"AgainstNull", u"abc", u"", 1},
                      CompareCase{"NullAgainst", u"", u"abc", -1}, CompareCase{"BothNull", u"", u"", 0},
                      CompareCase{"PrefixSortsFirst", u"ab", u"abc", -1},
                      CompareCase{"EmbeddedNulCounts", std::u16string(u"a\0b", 3), std::u16string(u"a\0c", 3), -1},
                      CompareCase{"NulAfterPrefixIsLonger", std::u16string(u"a\0", 2), u"a", 1},
                      CompareCase{"UnitsNotCodePoints", u"\xD800\xDC00", u"\xE000", -1},
                      CompareCase{"NoCaseFolding", u"B", u"a", -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareOrdinal, NullResultIsInvalidArgument) {
    EXPECT_EQ(WindowsCompareStringOrdinal(nullptr, nullptr, nullptr), E_INVALIDARG);
}

}  // namespace
