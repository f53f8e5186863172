// The POSIX system-error table: errno values by meaning, and their texts.
#include "kes_platform.h"
#include "kes_text.h"

#include <cerrno>
#include <cstring>

namespace {

// errno values by meaning, searched in order. Codes without an errno
// counterpart (DONE, INVALIDDATA, ...) are produced only by our own checks.
const kes_system_entry k_system[] = {
    {0, KES_SUCCESS}, // matched whole only: see kes_result_from_system
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

thread_local char t_error_text[1024];

} // namespace

const kes_system_entry* kes_platform_system_table(size_t* count) {
    *count = sizeof k_system / sizeof k_system[0];
    return k_system;
}

uint32_t kes_platform_last_error() {
    return static_cast<uint32_t>(errno);
}

const char* kes_system_error_text(uint32_t error) {
    if (error == 0) {
        t_error_text[0] = '\0';
        return t_error_text;
    }
    // The GNU strerror_r may return a static text instead of filling ours.
    const char* text = strerror_r(static_cast<int>(error), t_error_text, sizeof t_error_text);
    if (text != t_error_text) {
        kes_strlcpy(t_error_text, text, sizeof t_error_text);
    }
    return t_error_text;
}
