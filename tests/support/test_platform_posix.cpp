// The error number and time zone tests set on POSIX.
#include "test_platform.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

namespace qeltest {

const uint32_t k_accessDenied = EACCES;

const bool k_sendReportsUnreachable = true;

bool startSockets() {
    return true;
}

void stopSockets() {}

void setPlatformError(uint32_t error) {
    errno = static_cast<int>(error);
}

size_t openHandles() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

void useUtcTimeZone() {
    setenv("TZ", "UTC", 1);
    tzset();
}

} // namespace qeltest
