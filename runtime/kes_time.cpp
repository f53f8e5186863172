// Wall-clock time, span arithmetic, the sleep and the local-time text. The
// clock can be replaced process-wide (tests install a clock of their own);
// the platform's clock, sleep and local time are in kes_time_<platform>.cpp.
#include "kes_time.h"

#include "kes_platform.h"
#include "kes_text.h"

#include <atomic>
#include <ctime>

namespace {

constexpr int32_t k_micros = 1000000;

std::atomic<const kes_clock*> g_clock{nullptr};

// Moves whole seconds between the parts so that 0 <= microseconds < 1000000.
void normalise(kes_time* t) {
    if (t->microseconds >= k_micros) {
        t->seconds += t->microseconds / k_micros;
        t->microseconds %= k_micros;
    }
}

} // namespace

void kes_clock_install(const kes_clock* clock) {
    g_clock.store(clock);
}

kes_result kes_time_now(kes_time* t) {
    if (t == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const kes_clock* clock = g_clock.load();
    if (clock != nullptr && clock->now != nullptr) {
        return clock->now(clock->context, t);
    }
    return kes_platform_now(t);
}

kes_result kes_time_add(kes_time* a, const kes_time* b) {
    if (a == nullptr || b == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // Summed in 64 bits: two unnormalised parts may pass the 32-bit range.
    int64_t micros = static_cast<int64_t>(a->microseconds) + b->microseconds;
    a->seconds += b->seconds;
    if (micros >= k_micros) {
        a->seconds += micros / k_micros;
        micros %= k_micros;
    }
    a->microseconds = static_cast<int32_t>(micros);
    return KES_SUCCESS;
}

kes_result kes_time_subtract(kes_time* a, const kes_time* b) {
    if (a == nullptr || b == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (a->microseconds < b->microseconds) {
        // Lend as many seconds as it takes (one for normalised values).
        int64_t lend =
            (static_cast<int64_t>(b->microseconds) - a->microseconds + k_micros - 1) / k_micros;
        a->seconds -= lend;
        a->microseconds = static_cast<int32_t>(a->microseconds + lend * k_micros);
    }
    a->microseconds -= b->microseconds;
    a->seconds -= b->seconds;
    return KES_SUCCESS;
}

int kes_time_compare(const kes_time* a, const kes_time* b) {
    const kes_time zero{0, 0};
    if (a == nullptr) {
        a = &zero;
    }
    if (b == nullptr) {
        b = &zero;
    }
    if (a->seconds == b->seconds) {
        return a->microseconds < b->microseconds ? -1 : (a->microseconds > b->microseconds ? 1 : 0);
    }
    return a->seconds < b->seconds ? -1 : 1;
}

kes_result kes_time_normalise(kes_time* t) {
    if (t == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    normalise(t);
    return KES_SUCCESS;
}

kes_result kes_sleep_span(const kes_time* t, kes_time* span) {
    if (t == nullptr || span == nullptr || t->seconds < 0 || t->microseconds < 0) {
        return KES_INVALIDPARAMETER;
    }
    // Every step stays far inside int64_t: the seconds are capped first.
    int64_t seconds = t->seconds < KES_SLEEP_MAX_SECONDS ? t->seconds : KES_SLEEP_MAX_SECONDS;
    seconds += t->microseconds / 1000000;
    int64_t milliseconds = (int64_t{t->microseconds % 1000000} + 999) / 1000;
    if (milliseconds == 1000) {
        ++seconds;
        milliseconds = 0;
    }
    if (seconds >= KES_SLEEP_MAX_SECONDS) {
        seconds = KES_SLEEP_MAX_SECONDS;
        milliseconds = 0;
    }
    span->seconds = seconds;
    span->microseconds = static_cast<int32_t>(milliseconds * 1000);
    return KES_SUCCESS;
}

kes_result kes_sleep(const kes_time* t) {
    if (t == nullptr || t->seconds < 0 || t->microseconds < 0) {
        return KES_INVALIDPARAMETER;
    }
    const kes_clock* clock = g_clock.load();
    if (clock != nullptr && clock->sleep != nullptr) {
        return clock->sleep(clock->context, t);
    }
    kes_time rounded{0, 0};
    kes_sleep_span(t, &rounded);
    return kes_platform_sleep(&rounded);
}

char* kes_time_format(const kes_time* t, char* buffer) {
    if (buffer == nullptr) {
        return nullptr;
    }
    kes_time now{0, 0};
    if (t == nullptr) {
        kes_time_now(&now);
        t = &now;
    }
    static const char* const k_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const k_months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    struct tm local {};
    bool ok = kes_platform_local_time(t->seconds, &local) && local.tm_wday >= 0 &&
              local.tm_wday < 7 && local.tm_mon >= 0 && local.tm_mon < 12 &&
              local.tm_year >= -1900 && local.tm_year <= 9999 - 1900;
    if (!ok) {
        kes_strlcpy(buffer, "??? ??? ?? ??:??:?? ????\n", KES_TIME_FORMAT_SIZE);
        return buffer;
    }
    kes_snprintf(buffer, KES_TIME_FORMAT_SIZE, "%s %s %2d %02d:%02d:%02d %04d\n",
                 k_days[local.tm_wday], k_months[local.tm_mon], local.tm_mday, local.tm_hour,
                 local.tm_min, local.tm_sec, local.tm_year + 1900);
    return buffer;
}
