// The code table (names and texts) and the errno translation table.
#include "kes_result.h"

#include "kes_text.h"

#include <cerrno>
#include <cstring>

namespace {

struct code_entry {
    const char* name;
    const char* text;
};

// Indexed by code; the order is the codes' order.
const code_entry k_codes[] = {
    {"SUCCESS", "success"},
    {"DONE", "operation done"},
    {"SYSTEM", "system-specific error"},
    {"INVALIDPARAMETER", "invalid parameter"},
    {"INVALIDDATA", "invalid data"},
    {"INVALIDSTATE", "invalid state"},
    {"NOMEMORY", "out of memory"},
    {"INTERRUPTED", "interrupted"},
    {"TRUNCATED", "message truncated"},
    {"NOTSUPPORTED", "operation not supported"},
    {"TIMEDOUT", "operation timed out"},
    {"NOTFOUND", "object or item not found"},
    {"DNSSDFAIL", "DNS-SD system failed"},
    {"RANGE", "data out of range"},
    {"POLICY", "administrative policy violation"},
    {"VERSION", "unsupported version"},
    {"ACCES", "access"},
    {"ADDRINUSE", "address in use"},
    {"ADDRNOTAVAIL", "address not available"},
    {"AFNOSUPPORT", "address family not supported"},
    {"ALREADY", "operation already in progress"},
    {"BADF", "bad file"},
    {"CONNABORTED", "connection aborted"},
    {"CONNREFUSED", "connection refused"},
    {"CONNRESET", "connection reset"},
    {"DESTADDRREQ", "destination address required"},
    {"FAULT", "fault"},
    {"HOSTUNREACH", "host unreachable"},
    {"INPROGRESS", "operation in progress"},
    {"ISCONN", "socket already connected"},
    {"MFILE", "too many open files"},
    {"MSGSIZE", "message too long"},
    {"NETDOWN", "network down"},
    {"NETRESET", "network reset"},
    {"NETUNREACH", "network unreachable"},
    {"NOBUFS", "no buffers"},
    {"NODATA", "no data"},
    {"NODEV", "no such device"},
    {"NOPROTOOPT", "protocol not available"},
    {"NORECOVERY", "non-recoverable error"},
    {"NOTCONN", "not connected"},
    {"NOTINITIALISED", "not initialised"},
    {"NOTSOCK", "not a socket"},
    {"PROTONOSUPPORT", "unsupported protocol"},
    {"PROTOTYPE", "wrong protocol type for socket"},
    {"SHUTDOWN", "socket has shut down"},
    {"SOCKTNOSUPPORT", "socket type not supported"},
    {"TRYAGAIN", "try again"},
    {"NOTRUNNING", "not running"},
};
constexpr kes_result k_code_count = static_cast<kes_result>(sizeof k_codes / sizeof k_codes[0]);
static_assert(k_code_count == KES_NOTRUNNING + 1, "one entry per code");

struct system_entry {
    uint32_t error;
    kes_result code;
};

// errno values by meaning, searched in order. Codes without an errno
// counterpart (DONE, INVALIDDATA, ...) are produced only by our own checks.
const system_entry k_system[] = {
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

const char* kes_result_name(kes_result code) {
    if (code < 0 || code >= k_code_count) {
        return nullptr;
    }
    return k_codes[code].name;
}

const char* kes_result_text(kes_result code) {
    if (code < 0 || code >= k_code_count) {
        return nullptr;
    }
    return k_codes[code].text;
}

char* kes_result_describe(kes_result code, char* buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    if (code == KES_SUCCESS) {
        kes_strlcpy(buffer, "success", KES_RESULT_DESCRIBE_SIZE);
    } else if (code == KES_SYSTEM) {
        // Read errno before anything else can change it.
        uint32_t error = static_cast<uint32_t>(errno);
        kes_snprintf(buffer, KES_RESULT_DESCRIBE_SIZE, "System error: %s: (0x%04x)",
                     kes_system_error_text(error), error);
    } else {
        kes_snprintf(buffer, KES_RESULT_DESCRIBE_SIZE, "%s: (0x%04x=%s)", kes_result_text(code),
                     static_cast<unsigned>(code), kes_result_name(code));
    }
    return buffer;
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

kes_result kes_result_from_system(uint32_t error) {
    // A number whose low 16 bits are zero but whose high bits are not is a
    // failure, never success.
    if (error != 0 && (error & 0xFFFF) == 0) {
        return KES_SYSTEM;
    }
    for (const system_entry& entry : k_system) {
        bool match = entry.error <= 0xFFFF ? entry.error == (error & 0xFFFF) : entry.error == error;
        if (match) {
            return entry.code;
        }
    }
    return KES_SYSTEM;
}

kes_result kes_result_from_errno() {
    return kes_result_from_system(static_cast<uint32_t>(errno));
}
