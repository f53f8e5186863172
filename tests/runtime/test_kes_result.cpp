// Result codes: names, texts and the one-line description, on every
// platform. The platforms' system-error tables are tested in
// test_kes_result_posix.cpp and test_kes_result_win.cpp.
#include "kes_result.h"

#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::string describe(kes_result code) {
    char buffer[KES_RESULT_DESCRIBE_SIZE];
    std::memset(buffer, '#', sizeof buffer);
    const char* line = kes_result_describe(code, buffer);
    EXPECT_EQ(line, buffer);
    return line == nullptr ? std::string("<nullptr>") : std::string(line);
}

} // namespace

TEST(KesResultTable, CodeValuesArePinned) {
    EXPECT_EQ(KES_SUCCESS, 0);
    EXPECT_EQ(KES_SYSTEM, 2);
    EXPECT_EQ(KES_INVALIDPARAMETER, 3);
    EXPECT_EQ(KES_INVALIDSTATE, 5);
    EXPECT_EQ(KES_NOMEMORY, 6);
    EXPECT_EQ(KES_TIMEDOUT, 10);
    EXPECT_EQ(KES_MSGSIZE, 31);
    EXPECT_EQ(KES_NOBUFS, 35);
    EXPECT_EQ(KES_NOTRUNNING, 48);
    EXPECT_EQ(KES_RESULT_DESCRIBE_SIZE, 513u);
}

TEST(KesResultTable, NamesAndTextsOfRepresentativeCodes) {
    struct Case {
        kes_result code;
        const char* name;
        const char* text;
    };
    const Case cases[] = {
        {0, "SUCCESS", "success"},
        {1, "DONE", "operation done"},
        {2, "SYSTEM", "system-specific error"},
        {3, "INVALIDPARAMETER", "invalid parameter"},
        {6, "NOMEMORY", "out of memory"},
        {10, "TIMEDOUT", "operation timed out"},
        {12, "DNSSDFAIL", "DNS-SD system failed"},
        {16, "ACCES", "access"},
        {24, "CONNRESET", "connection reset"},
        {31, "MSGSIZE", "message too long"},
        {41, "NOTINITIALISED", "not initialised"},
        {44, "PROTOTYPE", "wrong protocol type for socket"},
        {47, "TRYAGAIN", "try again"},
        {48, "NOTRUNNING", "not running"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_STREQ(kes_result_name(c.code), c.name);
        EXPECT_STREQ(kes_result_text(c.code), c.text);
    }
}

TEST(KesResultTable, EveryCodeHasANameAndATextAndNoOtherDoes) {
    for (kes_result code = 0; code <= KES_NOTRUNNING; ++code) {
        SCOPED_TRACE(code);
        ASSERT_NE(kes_result_name(code), nullptr);
        ASSERT_NE(kes_result_text(code), nullptr);
        EXPECT_GT(std::strlen(kes_result_name(code)), 0u);
        EXPECT_GT(std::strlen(kes_result_text(code)), 0u);
    }
    const kes_result outside[] = {-1, 49, 77, INT32_MIN, INT32_MAX};
    for (kes_result code : outside) {
        SCOPED_TRACE(code);
        EXPECT_EQ(kes_result_name(code), nullptr);
        EXPECT_EQ(kes_result_text(code), nullptr);
    }
}

TEST(KesResultDescribe, FormatsOfTheDefinedCodes) {
    struct Case {
        kes_result code;
        const char* line;
    };
    const Case cases[] = {
        {0, "success"},
        {1, "operation done: (0x0001=DONE)"},
        {6, "out of memory: (0x0006=NOMEMORY)"},
        {24, "connection reset: (0x0018=CONNRESET)"},
        {48, "not running: (0x0030=NOTRUNNING)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(describe(c.code), c.line);
    }
}

TEST(KesResultDescribe, UnknownCodeShowsNullForNameAndText) {
    EXPECT_EQ(describe(77), "(null): (0x004d=(null))");
    EXPECT_EQ(describe(49), "(null): (0x0031=(null))");
}

TEST(KesResultDescribe, MissingBufferGivesNullptr) {
    EXPECT_EQ(kes_result_describe(KES_NOMEMORY, nullptr), nullptr);
    EXPECT_EQ(kes_result_describe(KES_SUCCESS, nullptr), nullptr);
    qeltest::setPlatformError(qeltest::k_accessDenied);
    EXPECT_EQ(kes_result_describe(KES_SYSTEM, nullptr), nullptr);
}

TEST(KesResultDescribe, LineStaysWithinItsBuffer) {
    const kes_result codes[] = {0, 1, 2, 3, 12, 44, 48, 49, 77, -1, INT32_MIN};
    const uint32_t errors[] = {0, qeltest::k_accessDenied, 1234, 0x7FFFFFFF};
    for (kes_result code : codes) {
        for (uint32_t error : errors) {
            SCOPED_TRACE(code);
            SCOPED_TRACE(error);
            char area[KES_RESULT_DESCRIBE_SIZE + 16];
            std::memset(area, '#', sizeof area);
            qeltest::setPlatformError(error);
            kes_result_describe(code, area);
            const void* end = std::memchr(area, '\0', KES_RESULT_DESCRIBE_SIZE);
            ASSERT_NE(end, nullptr) << "no terminator within 513 bytes";
            EXPECT_LE(std::strlen(area), 512u);
            for (size_t i = KES_RESULT_DESCRIBE_SIZE; i < sizeof area; ++i) {
                EXPECT_EQ(area[i], '#') << "guard byte " << i;
            }
        }
    }
}

TEST(KesResultFromSystem, AWrappedZeroIsAFailureNotSuccess) {
    EXPECT_EQ(kes_result_from_system(0x00010000u), KES_SYSTEM);
    EXPECT_EQ(kes_result_from_system(0x80070000u), KES_SYSTEM);
}
