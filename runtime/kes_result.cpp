// The code table (names and texts), the description line and the search of
// the platform's system-error table (kes_result_<platform>.cpp).
#include "kes_result.h"

#include "kes_platform.h"
#include "kes_text.h"

namespace {

// Marks a text for the translators; the text itself is the English the
// layers above translate when they show it.
#define N_(text) text

struct code_entry {
    const char* name;
    const char* text;
};

// Indexed by code; the order is the codes' order.
const code_entry k_codes[] = {
    {"SUCCESS", N_("success")},
    {"DONE", N_("operation done")},
    {"SYSTEM", N_("system-specific error")},
    {"INVALIDPARAMETER", N_("invalid parameter")},
    {"INVALIDDATA", N_("invalid data")},
    {"INVALIDSTATE", N_("invalid state")},
    {"NOMEMORY", N_("out of memory")},
    {"INTERRUPTED", N_("interrupted")},
    {"TRUNCATED", N_("message truncated")},
    {"NOTSUPPORTED", N_("operation not supported")},
    {"TIMEDOUT", N_("operation timed out")},
    {"NOTFOUND", N_("object or item not found")},
    {"DNSSDFAIL", N_("DNS-SD system failed")},
    {"RANGE", N_("data out of range")},
    {"POLICY", N_("administrative policy violation")},
    {"VERSION", N_("unsupported version")},
    {"ACCES", N_("access")},
    {"ADDRINUSE", N_("address in use")},
    {"ADDRNOTAVAIL", N_("address not available")},
    {"AFNOSUPPORT", N_("address family not supported")},
    {"ALREADY", N_("operation already in progress")},
    {"BADF", N_("bad file")},
    {"CONNABORTED", N_("connection aborted")},
    {"CONNREFUSED", N_("connection refused")},
    {"CONNRESET", N_("connection reset")},
    {"DESTADDRREQ", N_("destination address required")},
    {"FAULT", N_("fault")},
    {"HOSTUNREACH", N_("host unreachable")},
    {"INPROGRESS", N_("operation in progress")},
    {"ISCONN", N_("socket already connected")},
    {"MFILE", N_("too many open files")},
    {"MSGSIZE", N_("message too long")},
    {"NETDOWN", N_("network down")},
    {"NETRESET", N_("network reset")},
    {"NETUNREACH", N_("network unreachable")},
    {"NOBUFS", N_("no buffers")},
    {"NODATA", N_("no data")},
    {"NODEV", N_("no such device")},
    {"NOPROTOOPT", N_("protocol not available")},
    {"NORECOVERY", N_("non-recoverable error")},
    {"NOTCONN", N_("not connected")},
    {"NOTINITIALISED", N_("not initialised")},
    {"NOTSOCK", N_("not a socket")},
    {"PROTONOSUPPORT", N_("unsupported protocol")},
    {"PROTOTYPE", N_("wrong protocol type for socket")},
    {"SHUTDOWN", N_("socket has shut down")},
    {"SOCKTNOSUPPORT", N_("socket type not supported")},
    {"TRYAGAIN", N_("try again")},
    {"NOTRUNNING", N_("not running")},
};
constexpr kes_result k_code_count = static_cast<kes_result>(sizeof k_codes / sizeof k_codes[0]);
static_assert(k_code_count == KES_NOTRUNNING + 1, "one entry per code");

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
        // Read the platform's error before anything else can change it.
        uint32_t error = kes_platform_last_error();
        kes_snprintf(buffer, KES_RESULT_DESCRIBE_SIZE, "System error: %s: (0x%04x)",
                     kes_system_error_text(error), error);
    } else {
        kes_snprintf(buffer, KES_RESULT_DESCRIBE_SIZE, "%s: (0x%04x=%s)", kes_result_text(code),
                     static_cast<unsigned>(code), kes_result_name(code));
    }
    return buffer;
}

kes_result kes_result_from_system(uint32_t error) {
    // A number whose low 16 bits are zero but whose high bits are not is a
    // failure, never success.
    if (error != 0 && (error & 0xFFFF) == 0) {
        return KES_SYSTEM;
    }
    size_t count = 0;
    const kes_system_entry* table = kes_platform_system_table(&count);
    for (size_t i = 0; i < count; ++i) {
        const kes_system_entry& entry = table[i];
        bool match = entry.error <= 0xFFFF ? entry.error == (error & 0xFFFF) : entry.error == error;
        if (match) {
            return entry.code;
        }
    }
    return KES_SYSTEM;
}

kes_result kes_result_from_errno() {
    return kes_result_from_system(kes_platform_last_error());
}
