// The POSIX system-error table: errno values translated by meaning, their
// texts, and the description of KES_SYSTEM with the current errno.
#include "kes_result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

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

} // namespace
