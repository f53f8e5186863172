// The Windows clock, sleep and local time. The clock is the system time in
// 100-nanosecond units since 1601, moved to the 1970 epoch; the local time
// is the C library's, which follows TZ when it is set and the system's time
// zone otherwise, up to the end of the year 3000.
#include "kes_platform.h"

#include <windows.h>

#include <ctime>

namespace {

// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t k_epoch_offset = INT64_C(116444736000000000);
// The longest single Sleep: below INFINITE, which would never return.
constexpr int64_t k_longest_sleep_ms = INT64_C(0x7FFFFFFF);

} // namespace

kes_result kes_platform_now(kes_time* t) {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t units = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                               now.dwLowDateTime) -
                          k_epoch_offset;
    t->seconds = units / 10000000;
    t->microseconds = static_cast<int32_t>((units % 10000000) / 10);
    if (t->microseconds < 0) {
        t->microseconds += 1000000;
        --t->seconds;
    }
    return KES_SUCCESS;
}

kes_result kes_platform_sleep(const kes_time* span) {
    // Nothing interrupts a Windows sleep: it always runs its whole span,
    // in pieces when it is longer than one Sleep takes.
    int64_t remaining = span->seconds * 1000 + span->microseconds / 1000;
    do {
        const int64_t piece = remaining < k_longest_sleep_ms ? remaining : k_longest_sleep_ms;
        Sleep(static_cast<DWORD>(piece));
        remaining -= piece;
    } while (remaining > 0);
    return KES_SUCCESS;
}

bool kes_platform_local_time(int64_t seconds, struct tm* local) {
    const __time64_t value = static_cast<__time64_t>(seconds);
    return _localtime64_s(local, &value) == 0;
}
