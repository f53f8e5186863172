// Result codes: names, texts, the one-line description and the translation of
// errno values into codes.
#include "kes_result.h"

#include <gtest/gtest.h>

#include <cerrno>
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

TEST(KesResultDescribe, SystemCodeShowsTheCurrentErrno) {
    char buffer[KES_RESULT_DESCRIBE_SIZE];
    errno = EACCES;
    kes_result_describe(KES_SYSTEM, buffer);
    EXPECT_STREQ(buffer, "System error: Permission denied: (0x000d)");

    // errno is read at the moment of the call, not stored with the code.
    errno = ENOENT;
    kes_result_describe(KES_SYSTEM, buffer);
    EXPECT_STREQ(buffer, "System error: No such file or directory: (0x0002)");
}

TEST(KesResultDescribe, MissingBufferGivesNullptr) {
    EXPECT_EQ(kes_result_describe(KES_NOMEMORY, nullptr), nullptr);
    EXPECT_EQ(kes_result_describe(KES_SUCCESS, nullptr), nullptr);
    errno = EACCES;
    EXPECT_EQ(kes_result_describe(KES_SYSTEM, nullptr), nullptr);
}

TEST(KesResultDescribe, LineStaysWithinItsBuffer) {
    const kes_result codes[] = {0, 1, 2, 3, 12, 44, 48, 49, 77, -1, INT32_MIN};
    const int errors[] = {0, EACCES, EINVAL, 1234, 0x7FFFFFFF};
    for (kes_result code : codes) {
        for (int error : errors) {
            SCOPED_TRACE(code);
            SCOPED_TRACE(error);
            char area[KES_RESULT_DESCRIBE_SIZE + 16];
            std::memset(area, '#', sizeof area);
            errno = error;
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

TEST(KesSystemErrorText, ZeroIsEmptyAndOthersArePlatformText) {
    EXPECT_STREQ(kes_system_error_text(0), "");
    EXPECT_STREQ(kes_system_error_text(EACCES), "Permission denied");
    EXPECT_STREQ(kes_system_error_text(ECONNRESET), "Connection reset by peer");
    // After a non-empty text, 0 is empty again.
    EXPECT_STREQ(kes_system_error_text(0), "");
}

TEST(KesResultFromSystem, ErrnoValuesTranslateByMeaning) {
    struct Case {
        uint32_t error;
        kes_result code;
    };
    const Case cases[] = {
        {0, KES_SUCCESS},
        {EINVAL, KES_INVALIDPARAMETER},
        {ENOMEM, KES_NOMEMORY},
        {EINTR, KES_INTERRUPTED},
        {EOPNOTSUPP, KES_NOTSUPPORTED},
        {ETIMEDOUT, KES_TIMEDOUT},
        {EAGAIN, KES_TIMEDOUT},
        {EWOULDBLOCK, KES_TIMEDOUT},
        {ENOENT, KES_NOTFOUND},
        {EACCES, KES_ACCES},
        {EPERM, KES_ACCES},
        {EADDRINUSE, KES_ADDRINUSE},
        {EADDRNOTAVAIL, KES_ADDRNOTAVAIL},
        {EAFNOSUPPORT, KES_AFNOSUPPORT},
        {EALREADY, KES_ALREADY},
        {ECONNABORTED, KES_CONNABORTED},
        {ECONNREFUSED, KES_CONNREFUSED},
        {ECONNRESET, KES_CONNRESET},
        {EDESTADDRREQ, KES_DESTADDRREQ},
        {EFAULT, KES_FAULT},
        {EHOSTUNREACH, KES_HOSTUNREACH},
        {EINPROGRESS, KES_INPROGRESS},
        {EISCONN, KES_ISCONN},
        {EMFILE, KES_MFILE},
        {EMSGSIZE, KES_MSGSIZE},
        {ENETDOWN, KES_NETDOWN},
        {ENETRESET, KES_NETRESET},
        {ENETUNREACH, KES_NETUNREACH},
        {ENOBUFS, KES_NOBUFS},
        {ENOPROTOOPT, KES_NOPROTOOPT},
        {ENOTCONN, KES_NOTCONN},
        {ENOTSOCK, KES_NOTSOCK},
        {EPROTONOSUPPORT, KES_PROTONOSUPPORT},
        {EPROTOTYPE, KES_PROTOTYPE},
        {ESHUTDOWN, KES_SHUTDOWN},
        {ESOCKTNOSUPPORT, KES_SOCKTNOSUPPORT},
        {EEXIST, KES_ALREADY},
        {EBADF, KES_BADF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(kes_result_from_system(c.error), c.code);
    }
}

TEST(KesResultFromSystem, AWrappedZeroIsAFailureNotSuccess) {
    EXPECT_EQ(kes_result_from_system(0x00010000u), KES_SYSTEM);
    EXPECT_EQ(kes_result_from_system(0x80070000u), KES_SYSTEM);
}

TEST(KesResultFromSystem, OnlyTheLowSixteenBitsOfAWrappedNumberCount) {
    EXPECT_EQ(kes_result_from_system(0x80070000u | EINVAL), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_result_from_system(0x00010000u | ECONNRESET), KES_CONNRESET);
    EXPECT_EQ(kes_result_from_system(0xFFFF0000u | EAGAIN), KES_TIMEDOUT);
}

TEST(KesResultFromSystem, UnmappedNumbersAreSystemErrors) {
    const uint32_t unmapped[] = {ENODEV, 1234, 0x0000FFFFu, 0x800704D2u};
    for (uint32_t error : unmapped) {
        SCOPED_TRACE(error);
        EXPECT_EQ(kes_result_from_system(error), KES_SYSTEM);
    }
}

TEST(KesResultFromSystem, FromErrnoReadsTheCurrentErrno) {
    errno = ECONNREFUSED;
    EXPECT_EQ(kes_result_from_errno(), KES_CONNREFUSED);
    errno = ENODEV;
    EXPECT_EQ(kes_result_from_errno(), KES_SYSTEM);
    errno = 0;
    EXPECT_EQ(kes_result_from_errno(), KES_SUCCESS);
}
