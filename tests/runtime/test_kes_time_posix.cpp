// The POSIX clock: a signal cuts a sleep short, and the local-time text
// reaches the year 9999.
#include "kes_time.h"

#include "test_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <sys/time.h>

namespace {

void onAlarm(int) {}

TEST(Sleep, ReportsAnInterruptionBySignal) {
    struct sigaction action {};
    action.sa_handler = onAlarm;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the sleep must see the signal
    struct sigaction previous {};
    ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
    itimerval timer{};
    timer.it_value.tv_usec = 20000;
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);

    kes_time span{30, 0};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kes_sleep(&span), KES_INTERRUPTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    sigaction(SIGALRM, &previous, nullptr);
}

TEST(LocalTimeText, ReachesTheLastSecondOfTheYear9999) {
    qeltest::useUtcTimeZone();
    char buffer[KES_TIME_FORMAT_SIZE];
    const kes_time last{253402300799, 0};
    EXPECT_STREQ(kes_time_format(&last, buffer), "Fri Dec 31 23:59:59 9999\n");
}

} // namespace
