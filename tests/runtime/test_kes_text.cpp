// The bounded formatter, the string copy and the UTF-16 renderer: C99 counts,
// truncation, the system's length modifiers and everything that must never
// overrun a buffer.
#include "kes_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

// The formats below use this system's own conversions ("%I64u", "%S") and
// deliberately incomplete ones; the compiler's printf checks do not know them.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#pragma GCC diagnostic ignored "-Wformat-overflow"

namespace {

struct Formatted {
    std::string text;
    int count;
};

// Formats into a buffer of `size` bytes followed by guard bytes and checks
// that the guard is untouched.
template <typename... Args> Formatted format(size_t size, const char* fmt, Args... args) {
    std::string area(size + 16, '#');
    int count = kes_snprintf(area.data(), size, fmt, args...);
    EXPECT_EQ(area.substr(size), std::string(16, '#')) << "wrote past " << size << " bytes";
    return Formatted{size > 0 ? std::string(area.c_str()) : std::string(), count};
}

struct PlainCase {
    const char* format;
    const char* expected;
};

class NoArgumentFormats : public ::testing::TestWithParam<PlainCase> {};

TEST_P(NoArgumentFormats, DropIncompleteConversionsAndCountExactly) {
    Formatted out = format(64, GetParam().format);
    EXPECT_EQ(out.text, GetParam().expected);
    EXPECT_EQ(out.count, static_cast<int>(std::string(GetParam().expected).size()));
}

INSTANTIATE_TEST_SUITE_P(Formatter, NoArgumentFormats,
                         ::testing::Values(PlainCase{"plain text", "plain text"},
                                           PlainCase{"%y", "y"}, PlainCase{"100%", "100"},
                                           PlainCase{"%%", "%"}, PlainCase{"a%%b%%", "a%b%"},
                                           PlainCase{"%5y", "5y"}, PlainCase{"%-08.3hy", "-08.3hy"},
                                           PlainCase{"%I64", "I64"}, PlainCase{"%n", "n"},
                                           PlainCase{"x%lln", "xlln"}, PlainCase{"", ""}));

TEST(Formatter, CutsToTheBufferAndReturnsTheCompleteCount) {
    Formatted out = format(8, "%s", "abcdefghij");
    EXPECT_EQ(out.text, "abcdefg");
    EXPECT_EQ(out.count, 10);

    out = format(1, "%d", 12345);
    EXPECT_EQ(out.text, "");
    EXPECT_EQ(out.count, 5);

    EXPECT_EQ(kes_snprintf(nullptr, 0, "%d-%s", 12345, "ab"), 8);
    char untouched[4] = "abc";
    EXPECT_EQ(kes_snprintf(untouched, 0, "%d", 7), 1);
    EXPECT_STREQ(untouched, "abc");
}

TEST(Formatter, TakesEveryArgumentWithItsRealType) {
    EXPECT_EQ(format(64, "%I64u", UINT64_MAX).text, "18446744073709551615");
    EXPECT_EQ(format(64, "%I64d|%d", INT64_MIN, 7).text, "-9223372036854775808|7");
    EXPECT_EQ(format(64, "%llx|%u", 0x123456789abcdefULL, 9u).text, "123456789abcdef|9");
    // A long is 64 bits on Linux, 32 on Windows.
    EXPECT_EQ(format(64, "%ld|%lu", LONG_MIN, ULONG_MAX).text,
              std::to_string(LONG_MIN) + "|" + std::to_string(ULONG_MAX));
    EXPECT_EQ(format(64, "%Iu|%Id", SIZE_MAX, static_cast<size_t>(5)).text,
              "18446744073709551615|5");
    EXPECT_EQ(format(64, "%I32d|%I32x", -1, 0xabcdef01u).text, "-1|abcdef01");
    EXPECT_EQ(format(64, "%hd|%hu|%hhu", 70000, 65537, 257).text, "4464|1|1");
    EXPECT_EQ(format(64, "%c%c|%5.2f|%e", 'o', 'k', 3.14159, 1e10).text, "ok| 3.14|1.000000e+10");
    // A pointer keeps all 64 bits, written as the C library writes it
    // ("0x123456789abc" on Linux, "0000123456789ABC" on Windows).
    void* const pointer = reinterpret_cast<void*>(0x123456789abcULL);
    char own[32];
    std::snprintf(own, sizeof own, "%p", pointer);
    EXPECT_EQ(format(64, "%p", pointer).text, own);
    EXPECT_NE(format(64, "%p", pointer).text.find("123456789"), std::string::npos);
}

TEST(Formatter, StarAmountsComeBeforeTheValue) {
    EXPECT_EQ(format(64, "%*d|", 5, 42).text, "   42|");
    EXPECT_EQ(format(64, "%-*d|", 5, 42).text, "42   |");
    EXPECT_EQ(format(64, "%*d|", -5, 42).text, "42   |");
    EXPECT_EQ(format(64, "%.*f", 2, 3.14159).text, "3.14");
    EXPECT_EQ(format(64, "%*.*s|", 6, 2, "abcdef").text, "    ab|");
    EXPECT_EQ(format(64, "%.*s", -1, "whole").text, "whole");
    EXPECT_EQ(format(64, "%.s|%.0d", "abc", 0).text, "|");
}

TEST(Formatter, KeepsFlags) {
    EXPECT_EQ(format(64, "%05d|%+d|% d|%#x|%-4d|", 42, 42, 42, 255, 1).text,
              "00042|+42| 42|0xff|1   |");
    EXPECT_EQ(format(64, "%--5d|%00+4d", 1, 2).text, "1    |+002");
}

TEST(Formatter, PrintsMissingStringsAsNull) {
    EXPECT_EQ(format(64, "%s", static_cast<const char*>(nullptr)).text, "(null)");
    EXPECT_EQ(format(64, "%S", static_cast<const char16_t*>(nullptr)).text, "(null)");
    EXPECT_EQ(format(64, "%s: (0x%04x=%s)", static_cast<const char*>(nullptr), 77,
                     static_cast<const char*>(nullptr))
                  .text,
              "(null): (0x004d=(null))");
}

TEST(Formatter, RendersUtf16StringsNeverAsWideCharacters) {
    const char16_t* ascii = u"eth0";
    const char16_t* accented = u"e\u00e9";
    EXPECT_EQ(format(64, "%S|%ls|%ws", ascii, ascii, ascii).text, "eth0|eth0|eth0");
    EXPECT_EQ(format(64, "%S", accented).text, "0065 00e9");
    EXPECT_EQ(format(64, "[%6S]", ascii).text, "[  eth0]");
    EXPECT_EQ(format(64, "%hs|%s", "narrow", "plain").text, "narrow|plain");
    EXPECT_EQ(format(64, "%lc%wc", static_cast<int>(u'A'), static_cast<int>(0xe9)).text, "A00e9");
}

TEST(Formatter, CutsOneConversionAt1023CharactersAndCountsWhatItMakes) {
    std::string big(2000, 'x');
    Formatted out = format(4096, "[%s]", big.c_str());
    EXPECT_EQ(out.text, "[" + std::string(1023, 'x') + "]");
    EXPECT_EQ(out.count, 1025);

    // Widths and precisions beyond the piece are limited, never slow and never
    // past the piece.
    out = format(4096, "%*d", INT_MAX, 5);
    EXPECT_EQ(out.count, 1023);
    EXPECT_EQ(out.text, std::string(1022, ' ') + "5");
    out = format(4096, "%.*f", INT_MAX, 1.0);
    EXPECT_EQ(out.count, 1023);
    EXPECT_EQ(out.text.substr(0, 4), "1.00");
    out = format(4096, "%99999999999999999999d|", 5);
    EXPECT_EQ(out.count, 1024);
    EXPECT_EQ(kes_snprintf(nullptr, 0, "%2000d", 5), 1023);
}

TEST(Formatter, AcceptsAMissingFormat) {
    char buffer[4] = "abc";
    EXPECT_EQ(kes_snprintf(buffer, sizeof buffer, nullptr), 0);
    EXPECT_STREQ(buffer, "");
}

TEST(Strlcpy, TerminatesAndReturnsTheSourceLength) {
    char buffer[8];
    EXPECT_EQ(kes_strlcpy(buffer, "abcdef", 4), 6u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(kes_strlcpy(buffer, "abcdef", 1), 6u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kes_strlcpy(buffer, "abc", sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(kes_strlcpy(buffer, nullptr, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(kes_strlcpy(nullptr, "abc", 8), 3u);
}

struct Utf16Case {
    std::u16string source;
    size_t size;
    const char* expected;
};

class Utf16ToText : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToText, RendersAsciiAsTextAndAnythingElseAsHexWords) {
    const Utf16Case& c = GetParam();
    std::string area(c.size + 8, '#');
    EXPECT_EQ(kes_utf16_to_text(c.source.c_str(), area.data(), c.size), area.data());
    EXPECT_STREQ(area.c_str(), c.expected);
    EXPECT_EQ(area.substr(c.size), std::string(8, '#'));
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf16ToText,
    ::testing::Values(Utf16Case{u"eth0", 16, "eth0"}, Utf16Case{u"eth0", 3, "et"},
                      Utf16Case{u"e\u00e9", 16, "0065 00e9"}, Utf16Case{u"\u00e9a", 7, "00e9 0"},
                      Utf16Case{u"\u00e9a", 5, "00e9"}, Utf16Case{u"\u20ac", 16, "20ac"},
                      Utf16Case{u"", 4, ""}, Utf16Case{u"\u007f", 4, "\x7f"}));

TEST(Utf16ToText, HandlesMissingArguments) {
    char buffer[4] = "abc";
    kes_utf16_to_text(nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "");
    char kept[4] = "abc";
    kes_utf16_to_text(u"x", kept, 0);
    EXPECT_STREQ(kept, "abc");
    EXPECT_EQ(kes_utf16_to_text(u"x", nullptr, 4), nullptr);
}

} // namespace
