// The Windows system-error table: every Winsock error with a code of the
// same name, the Windows errors by meaning, the description of KES_SYSTEM
// with the last Windows error, and the system's texts.
#include "kes_result.h"

#include "test_platform.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <string>

namespace {

struct Case {
    uint32_t error;
    kes_result code;
};

TEST(KesResultFromSystem, WinsockErrorsTranslateToTheCodeOfTheSameName) {
    const Case cases[] = {
        {WSAEACCES, KES_ACCES},
        {WSAEADDRINUSE, KES_ADDRINUSE},
        {WSAEADDRNOTAVAIL, KES_ADDRNOTAVAIL},
        {WSAEAFNOSUPPORT, KES_AFNOSUPPORT},
        {WSAEALREADY, KES_ALREADY},
        {WSAEBADF, KES_BADF},
        {WSAECONNABORTED, KES_CONNABORTED},
        {WSAECONNREFUSED, KES_CONNREFUSED},
        {WSAECONNRESET, KES_CONNRESET},
        {WSAEDESTADDRREQ, KES_DESTADDRREQ},
        {WSAEFAULT, KES_FAULT},
        {WSAEHOSTUNREACH, KES_HOSTUNREACH},
        {WSAEINPROGRESS, KES_INPROGRESS},
        {WSAEISCONN, KES_ISCONN},
        {WSAEMFILE, KES_MFILE},
        {WSAEMSGSIZE, KES_MSGSIZE},
        {WSAENETDOWN, KES_NETDOWN},
        {WSAENETRESET, KES_NETRESET},
        {WSAENETUNREACH, KES_NETUNREACH},
        {WSAENOBUFS, KES_NOBUFS},
        {WSANO_DATA, KES_NODATA},
        {WSAENOPROTOOPT, KES_NOPROTOOPT},
        {WSANO_RECOVERY, KES_NORECOVERY},
        {WSAENOTCONN, KES_NOTCONN},
        {WSANOTINITIALISED, KES_NOTINITIALISED},
        {WSAENOTSOCK, KES_NOTSOCK},
        {WSAEPROTONOSUPPORT, KES_PROTONOSUPPORT},
        {WSAEPROTOTYPE, KES_PROTOTYPE},
        {WSAESHUTDOWN, KES_SHUTDOWN},
        {WSAESOCKTNOSUPPORT, KES_SOCKTNOSUPPORT},
        {WSATRY_AGAIN, KES_TRYAGAIN},
        {WSAETIMEDOUT, KES_TIMEDOUT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(kes_result_from_system(c.error), c.code);
    }
}

TEST(KesResultFromSystem, WindowsErrorsTranslateByMeaning) {
    const Case cases[] = {
        {0, KES_SUCCESS},
        {ERROR_INVALID_PARAMETER, KES_INVALIDPARAMETER},
        {WSAEINVAL, KES_INVALIDPARAMETER},
        {ERROR_NOT_ENOUGH_MEMORY, KES_NOMEMORY},
        {ERROR_OUTOFMEMORY, KES_NOMEMORY},
        {WSAEINTR, KES_INTERRUPTED},
        {WSAEOPNOTSUPP, KES_NOTSUPPORTED},
        {ERROR_NOT_SUPPORTED, KES_NOTSUPPORTED},
        {WSAEWOULDBLOCK, KES_TIMEDOUT},
        {WAIT_TIMEOUT, KES_TIMEDOUT},
        {ERROR_TIMEOUT, KES_TIMEDOUT},
        {ERROR_FILE_NOT_FOUND, KES_NOTFOUND},
        {ERROR_PATH_NOT_FOUND, KES_NOTFOUND},
        {WSAHOST_NOT_FOUND, KES_NOTFOUND},
        {ERROR_ACCESS_DENIED, KES_ACCES},
        {WSAVERNOTSUPPORTED, KES_VERSION},
        {ERROR_ALREADY_EXISTS, KES_ALREADY},
        {ERROR_FILE_EXISTS, KES_ALREADY},
        {ERROR_INVALID_HANDLE, KES_BADF},
        {ERROR_INSUFFICIENT_BUFFER, KES_TRUNCATED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(kes_result_from_system(c.error), c.code);
    }
}

TEST(KesResultFromSystem, AnHresultCountsByItsLowSixteenBits) {
    // E_ACCESSDENIED and HRESULT_FROM_WIN32(WSAECONNRESET).
    EXPECT_EQ(kes_result_from_system(0x80070005u), KES_ACCES);
    EXPECT_EQ(kes_result_from_system(0x80070000u | WSAECONNRESET), KES_CONNRESET);
}

TEST(KesResultFromSystem, UnmappedNumbersAreSystemErrors) {
    const uint32_t unmapped[] = {ERROR_GEN_FAILURE, WSAEPROCLIM, WSAEDISCON, 1234, 0x0000FFFFu};
    for (uint32_t error : unmapped) {
        SCOPED_TRACE(error);
        EXPECT_EQ(kes_result_from_system(error), KES_SYSTEM);
    }
}

TEST(KesResultFromSystem, FromErrnoReadsTheLastWindowsError) {
    WSASetLastError(WSAECONNREFUSED);
    EXPECT_EQ(kes_result_from_errno(), KES_CONNREFUSED);
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(kes_result_from_errno(), KES_SYSTEM);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(kes_result_from_errno(), KES_SUCCESS);
}

// The system's English text, on one line, without its full stop.
TEST(KesResultDescribe, SystemCodeShowsTheLastWindowsError) {
    char buffer[KES_RESULT_DESCRIBE_SIZE];
    SetLastError(ERROR_ACCESS_DENIED);
    kes_result_describe(KES_SYSTEM, buffer);
    EXPECT_STREQ(buffer, "System error: Access denied: (0x0005)");

    // Read at the moment of the call, not stored with the code.
    SetLastError(ERROR_FILE_NOT_FOUND);
    kes_result_describe(KES_SYSTEM, buffer);
    const std::string line = buffer;
    EXPECT_EQ(line.rfind("System error: ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 10), ": (0x0002)") << line;
}

TEST(KesSystemErrorText, ZeroIsEmptyKnownNumbersHaveOneLineAndOthersAreUnknown) {
    EXPECT_STREQ(kes_system_error_text(0), "");
    const std::string text = kes_system_error_text(WSAECONNRESET);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), '.') << text;
    EXPECT_STREQ(kes_system_error_text(0x2BADF00Du), "Unknown error 732819469");
    EXPECT_STREQ(kes_system_error_text(0), "");
}

} // namespace
