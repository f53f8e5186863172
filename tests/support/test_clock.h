// A test clock: while one exists, kes_time_now returns its time and kes_sleep
// advances it instead of sleeping, so timeouts of seconds are tested in
// microseconds.
#pragma once

#include "kes_time.h"

#include <atomic>
#include <cstdint>
#include <ostream>

// Comparison and printing of times for test assertions.
inline bool operator==(const kes_time& a, const kes_time& b) {
    return a.seconds == b.seconds && a.microseconds == b.microseconds;
}
inline bool operator!=(const kes_time& a, const kes_time& b) {
    return !(a == b);
}
inline std::ostream& operator<<(std::ostream& os, const kes_time& t) {
    return os << "{" << t.seconds << ", " << t.microseconds << "}";
}

namespace qeltest {

class TestClock {
public:
    explicit TestClock(kes_time start = kes_time{1700000000, 0});
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    kes_time now() const;
    void set(kes_time t);
    void advance(int64_t seconds, int32_t microseconds = 0);

    // How many times kes_sleep was called, and the total span it asked for.
    unsigned sleeps() const { return m_sleeps.load(); }
    int64_t sleptMicroseconds() const { return m_slept.load(); }

private:
    static kes_result onNow(void* context, kes_time* t);
    static kes_result onSleep(void* context, const kes_time* span);

    std::atomic<int64_t> m_micros; // microseconds since the epoch
    std::atomic<unsigned> m_sleeps{0};
    std::atomic<int64_t> m_slept{0};
    kes_clock m_clock;
};

} // namespace qeltest
