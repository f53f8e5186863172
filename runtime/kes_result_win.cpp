// The Windows system-error table: Windows and Winsock error numbers by
// meaning, and their texts from the system's message table.
#include "kes_platform.h"
#include "kes_text.h"

// Winsock first: windows.h would bring in the old Winsock otherwise.
#include <winsock2.h>

#include <windows.h>

#include <cstring>

namespace {

// Searched in order. Every Winsock error with a code of the same name maps
// to it; the Windows errors the runtime's own calls give map by meaning, as
// their errno counterparts do on POSIX. A connected socket whose peer's port
// is unreachable reports WSAECONNRESET (or, under some implementations,
// WSAECONNREFUSED): the socket layer turns both into the one code its
// callers are promised before the table is consulted.
const kes_system_entry k_system[] = {
    {0, KES_SUCCESS}, // matched whole only: see kes_result_from_system
    {ERROR_INVALID_PARAMETER, KES_INVALIDPARAMETER},
    {WSAEINVAL, KES_INVALIDPARAMETER},
    {ERROR_NOT_ENOUGH_MEMORY, KES_NOMEMORY},
    {ERROR_OUTOFMEMORY, KES_NOMEMORY},
    {WSAEINTR, KES_INTERRUPTED},
    {WSAEOPNOTSUPP, KES_NOTSUPPORTED},
    {ERROR_NOT_SUPPORTED, KES_NOTSUPPORTED},
    {WSAETIMEDOUT, KES_TIMEDOUT},
    {WSAEWOULDBLOCK, KES_TIMEDOUT},
    {WAIT_TIMEOUT, KES_TIMEDOUT},
    {ERROR_TIMEOUT, KES_TIMEDOUT},
    {ERROR_FILE_NOT_FOUND, KES_NOTFOUND},
    {ERROR_PATH_NOT_FOUND, KES_NOTFOUND},
    {WSAHOST_NOT_FOUND, KES_NOTFOUND},
    {ERROR_ACCESS_DENIED, KES_ACCES},
    {WSAEACCES, KES_ACCES},
    {WSAEADDRINUSE, KES_ADDRINUSE},
    {WSAEADDRNOTAVAIL, KES_ADDRNOTAVAIL},
    {WSAEAFNOSUPPORT, KES_AFNOSUPPORT},
    {WSAEALREADY, KES_ALREADY},
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
    {WSAVERNOTSUPPORTED, KES_VERSION},
    {ERROR_ALREADY_EXISTS, KES_ALREADY},
    {ERROR_FILE_EXISTS, KES_ALREADY},
    {ERROR_INVALID_HANDLE, KES_BADF},
    {WSAEBADF, KES_BADF},
    {ERROR_INSUFFICIENT_BUFFER, KES_TRUNCATED},
};

thread_local char t_error_text[1024];

// The system's text for `error` in `language`; false when it has none.
bool systemText(uint32_t error, DWORD language) {
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       language, t_error_text, static_cast<DWORD>(sizeof t_error_text), nullptr);
    return length > 0;
}

} // namespace

const kes_system_entry* kes_platform_system_table(size_t* count) {
    *count = sizeof k_system / sizeof k_system[0];
    return k_system;
}

uint32_t kes_platform_last_error() {
    return static_cast<uint32_t>(GetLastError());
}

const char* kes_system_error_text(uint32_t error) {
    t_error_text[0] = '\0';
    if (error == 0) {
        return t_error_text;
    }
    // English first, as the log is read by whoever diagnoses it; the
    // system's own language where it has no English texts.
    if (!systemText(error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) && !systemText(error, 0)) {
        kes_snprintf(t_error_text, sizeof t_error_text, "Unknown error %u", error);
        return t_error_text;
    }
    // One line like the C library's texts: without the final full stop and
    // line break the system's texts end with.
    size_t length = std::strlen(t_error_text);
    while (length > 0 && (t_error_text[length - 1] == '\n' || t_error_text[length - 1] == '\r' ||
                          t_error_text[length - 1] == ' ' || t_error_text[length - 1] == '.')) {
        t_error_text[--length] = '\0';
    }
    return t_error_text;
}
