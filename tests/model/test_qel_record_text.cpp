// Conversions between record fields and texts: UTF-16 strings to and from
// wxString, and the strict and leading-number readings of decimal texts.
// (8-bit widening is checked through the info and state objects.)
#include "QelRecordText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

namespace {

class Utf16ToText : public testing::TestWithParam<std::pair<std::u16string, std::wstring>> {};

TEST_P(Utf16ToText, BuildsTheCharacters) {
    const std::u16string& units = GetParam().first;
    EXPECT_EQ(qelTextFromUtf16(units.c_str(), units.size() + 1).ToStdWstring(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf16ToText,
    testing::Values(std::make_pair(u"", L""),
                    std::make_pair(u"R\u00e9seau \u7db2", L"R\u00e9seau \u7db2"),
                    std::make_pair(u"a\U0001F50Cb", L"a\U0001F50Cb"),
                    std::make_pair(std::u16string{u'a', 0xD83D, u'b'}, L"a\uFFFDb"),
                    std::make_pair(std::u16string{0xDD0C, 0xD83D}, L"\uFFFD\uFFFD")));

TEST(Utf16Text, BoundsAndRoundTrip) {
    const char16_t units[] = {u'a', u'b', 0xD83D, 0xDD0C};
    EXPECT_EQ(qelTextFromUtf16(units, 2).ToStdWstring(), L"ab"); // no terminator
    EXPECT_EQ(qelTextFromUtf16(units, 3).ToStdWstring(), L"ab\uFFFD");
    // A pair is one character (held as the pair itself where wxString is
    // UTF-16, on Windows).
    EXPECT_EQ(qelTextFromUtf16(units, 4), wxString::FromUTF8("ab\xF0\x9F\x94\x8C"));
    EXPECT_TRUE(qelTextFromUtf16(nullptr, 64).empty());

    char16_t out[64] = {};
    ASSERT_TRUE(qelTextToUtf16(qelTextFromUtf16(units, 4), out, 64));
    EXPECT_EQ(std::u16string(out), std::u16string(units, 4));
    EXPECT_TRUE(qelTextToUtf16(wxString(L"ab"), out, 3)); // exact fit
    EXPECT_FALSE(qelTextToUtf16(wxString(L"abc"), out, 3));
    EXPECT_EQ(std::u16string(out), u"ab");
    EXPECT_FALSE(qelTextToUtf16(wxString(L"a\U0001F50C"), out, 3)); // never half a pair
    EXPECT_EQ(std::u16string(out), u"a");
    EXPECT_FALSE(qelTextToUtf16(wxString(L"a"), out, 0));
    EXPECT_FALSE(qelTextToUtf16(wxString(L"a"), nullptr, 8));
}

struct NumberCase {
    const wchar_t* text;
    std::optional<uint32_t> strict;  // qelParseUnsigned, at most 65535
    std::optional<uint32_t> leading; // qelParseLeadingNumber
};

class NumberReading : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberReading, StrictAndLeading) {
    EXPECT_EQ(qelParseUnsigned(wxString(GetParam().text), 65535), GetParam().strict);
    EXPECT_EQ(qelParseLeadingNumber(wxString(GetParam().text)), GetParam().leading);
}

const std::optional<uint32_t> none;

INSTANTIATE_TEST_SUITE_P(
    Texts, NumberReading,
    testing::Values(NumberCase{L"0", 0u, 0u}, NumberCase{L"007", 7u, 7u},
                    NumberCase{L"65535", 65535u, 65535u}, NumberCase{L"65536", none, 65536u},
                    NumberCase{L"4294967295", none, 4294967295u},
                    NumberCase{L"4294967296", none, none}, NumberCase{L"", none, none},
                    NumberCase{L"+1", none, none}, NumberCase{L"-1", none, none},
                    NumberCase{L" 1", none, none}, NumberCase{L"48000 Hz", none, 48000u},
                    NumberCase{L"1.5", none, 1u}, NumberCase{L"Hz", none, none},
                    NumberCase{L"\uFF11", none, none},      // full-width one
                    NumberCase{L"1\U0001D7CE", none, 1u})); // mathematical zero

} // namespace
