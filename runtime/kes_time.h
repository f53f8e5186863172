// Wall-clock time with microsecond resolution, span arithmetic, an
// interruptible sleep and the local-time text that log stamps use. Tests can
// install their own clock so that timeouts of seconds run in microseconds.
#pragma once

#include "kes_result.h"

#include <cstddef>
#include <cstdint>

// A point in time (seconds since 1970-01-01 00:00:00 UTC) or a span. Seconds
// are 64-bit so that deadlines keep working past January 2038; a normalised
// value has 0 <= microseconds <= 999999. {0, 0} means "no time" wherever an
// interface says so.
struct kes_time {
    int64_t seconds;
    int32_t microseconds;
};

// Room for kes_time_format: 24 characters, a line feed and the terminator.
constexpr size_t KES_TIME_FORMAT_SIZE = 26;

// Stores the current wall-clock time (or the installed clock's). Missing
// argument: KES_INVALIDPARAMETER.
kes_result kes_time_now(kes_time* t);

// a = a + b, normalised. Missing argument: KES_INVALIDPARAMETER.
kes_result kes_time_add(kes_time* a, const kes_time* b);

// a = a - b; a second is lent while a's microseconds are below b's.
// Missing argument: KES_INVALIDPARAMETER.
kes_result kes_time_subtract(kes_time* a, const kes_time* b);

// Negative, zero or positive as a is before, equal to or after b (seconds
// first, then microseconds). Only the sign counts. Missing arguments compare
// as {0, 0}.
int kes_time_compare(const kes_time* a, const kes_time* b);

// Moves whole seconds out of the microseconds until they are at most 999999.
// Missing argument: KES_INVALIDPARAMETER.
kes_result kes_time_normalise(kes_time* t);

// Sleeps seconds * 1000 + ceil(microseconds / 1000) milliseconds (or asks the
// installed clock to). Missing argument or a negative part:
// KES_INVALIDPARAMETER without sleeping; a sleep cut short by a signal:
// KES_INTERRUPTED.
kes_result kes_sleep(const kes_time* t);

// The span kes_sleep sleeps for `t`: microseconds carried into the seconds,
// the rest rounded up to whole milliseconds, without overflow for any
// field values (at most KES_SLEEP_MAX_SECONDS, a longer span is cut to
// exactly that). Missing
// argument or a negative part: KES_INVALIDPARAMETER.
constexpr int64_t KES_SLEEP_MAX_SECONDS = INT64_C(1) << 40; // about 35 000 years
kes_result kes_sleep_span(const kes_time* t, kes_time* span);

// Writes the local time of t's seconds (of now when t is missing) as
// "Www Mmm dd hh:mm:ss yyyy\n" with the day of the month padded by a space,
// into `buffer` of KES_TIME_FORMAT_SIZE bytes; returns `buffer`. A time the
// platform cannot convert, or whose year needs more than four digits, gives
// "??? ??? ?? ??:??:?? ????\n".
char* kes_time_format(const kes_time* t, char* buffer);

// A replacement clock. `now` supplies the time for kes_time_now; `sleep`, when
// set, replaces kes_sleep (it receives the validated span). `context` is
// passed back to both.
struct kes_clock {
    kes_result (*now)(void* context, kes_time* t);
    kes_result (*sleep)(void* context, const kes_time* span);
    void* context;
};

// Installs `clock` for the whole process (nullptr restores the real clock).
// The record must outlive its installation. Safe against concurrent readers.
void kes_clock_install(const kes_clock* clock);
