// The error number and time zone tests set on Windows.
#include "test_platform.h"

#include "kes_platform.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>

namespace qeltest {

const uint32_t k_accessDenied = ERROR_ACCESS_DENIED;

const bool k_sendReportsUnreachable = false;

bool startSockets() {
    return kes_platform_sockets_start() == KES_SUCCESS;
}

void stopSockets() {
    kes_platform_sockets_stop();
}

void setPlatformError(uint32_t error) {
    SetLastError(static_cast<DWORD>(error));
}

size_t openHandles() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

void useUtcTimeZone() {
    _putenv_s("TZ", "UTC");
    _tzset();
}

} // namespace qeltest
