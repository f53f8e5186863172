// The test clock installs itself as the runtime's clock for its lifetime.
#include "test_clock.h"

namespace qeltest {

static int64_t toMicros(kes_time t) {
    return t.seconds * 1000000 + t.microseconds;
}

TestClock::TestClock(kes_time start) : m_micros(toMicros(start)) {
    m_clock.now = &TestClock::onNow;
    m_clock.sleep = &TestClock::onSleep;
    m_clock.context = this;
    kes_clock_install(&m_clock);
}

TestClock::~TestClock() {
    kes_clock_install(nullptr);
}

kes_time TestClock::now() const {
    int64_t us = m_micros.load();
    return kes_time{us / 1000000, static_cast<int32_t>(us % 1000000)};
}

void TestClock::set(kes_time t) {
    m_micros.store(toMicros(t));
}

void TestClock::advance(int64_t seconds, int32_t microseconds) {
    m_micros.fetch_add(seconds * 1000000 + microseconds);
}

kes_result TestClock::onNow(void* context, kes_time* t) {
    *t = static_cast<TestClock*>(context)->now();
    return KES_SUCCESS;
}

kes_result TestClock::onSleep(void* context, const kes_time* span) {
    auto* self = static_cast<TestClock*>(context);
    int64_t us = toMicros(*span);
    self->m_sleeps.fetch_add(1);
    self->m_slept.fetch_add(us);
    self->m_micros.fetch_add(us);
    return KES_SUCCESS;
}

} // namespace qeltest
