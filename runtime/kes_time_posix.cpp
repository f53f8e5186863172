// The POSIX clock, sleep and local time.
#include "kes_platform.h"

#include <cerrno>
#include <ctime>

kes_result kes_platform_now(kes_time* t) {
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
        return kes_result_from_errno();
    }
    t->seconds = static_cast<int64_t>(now.tv_sec);
    t->microseconds = static_cast<int32_t>(now.tv_nsec / 1000);
    return KES_SUCCESS;
}

kes_result kes_platform_sleep(const kes_time* span) {
    struct timespec wait;
    wait.tv_sec = static_cast<time_t>(span->seconds);
    wait.tv_nsec = static_cast<long>(span->microseconds) * 1000;
    if (nanosleep(&wait, nullptr) != 0) {
        return errno == EINTR ? KES_INTERRUPTED : kes_result_from_errno();
    }
    return KES_SUCCESS;
}

bool kes_platform_local_time(int64_t seconds, struct tm* local) {
    const time_t value = static_cast<time_t>(seconds);
    return localtime_r(&value, local) != nullptr;
}
