// Span arithmetic, the replaceable clock, the sleep and the local-time text
// on every platform; test_kes_time_<platform>.cpp has what differs.
#include "kes_time.h"

#include "test_clock.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

struct ArithmeticCase {
    kes_time a;
    kes_time b;
    kes_time sum;
    kes_time difference;
};

class TimeArithmetic : public ::testing::TestWithParam<ArithmeticCase> {};

TEST_P(TimeArithmetic, AddsAndSubtractsWithCarry) {
    const ArithmeticCase& c = GetParam();
    kes_time t = c.a;
    ASSERT_EQ(kes_time_add(&t, &c.b), KES_SUCCESS);
    EXPECT_EQ(t, c.sum);
    t = c.a;
    ASSERT_EQ(kes_time_subtract(&t, &c.b), KES_SUCCESS);
    EXPECT_EQ(t, c.difference);
}

INSTANTIATE_TEST_SUITE_P(Time, TimeArithmetic,
                         ::testing::Values(ArithmeticCase{{5, 999999}, {0, 2}, {6, 1}, {5, 999997}},
                                           ArithmeticCase{{6, 1}, {0, 2}, {6, 3}, {5, 999999}},
                                           ArithmeticCase{{10, 0}, {31, 0}, {41, 0}, {-21, 0}},
                                           ArithmeticCase{{0, 0}, {0, 0}, {0, 0}, {0, 0}},
                                           // Seconds past the 32-bit range (after January 2038).
                                           ArithmeticCase{{2147483647, 500000},
                                                          {10, 600000},
                                                          {2147483658, 100000},
                                                          {2147483636, 900000}},
                                           // Unnormalised microseconds are carried whole.
                                           ArithmeticCase{
                                               {0, 0}, {0, 2500000}, {2, 500000}, {-3, 500000}}));

TEST(Time, ComparesSecondsFirstThenMicroseconds) {
    kes_time a{10, 5}, b{10, 6}, c{11, 0}, d{4102444800, 0};
    EXPECT_LT(kes_time_compare(&a, &b), 0);
    EXPECT_GT(kes_time_compare(&b, &a), 0);
    EXPECT_EQ(kes_time_compare(&a, &a), 0);
    EXPECT_LT(kes_time_compare(&b, &c), 0);
    EXPECT_GT(kes_time_compare(&d, &c), 0);
    EXPECT_LT(kes_time_compare(nullptr, &a), 0);
}

TEST(Time, NormalisesAndRejectsMissingArguments) {
    kes_time t{1, 3000001};
    EXPECT_EQ(kes_time_normalise(&t), KES_SUCCESS);
    EXPECT_EQ(t, (kes_time{4, 1}));
    EXPECT_EQ(kes_time_normalise(nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_time_add(nullptr, &t), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_time_subtract(&t, nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_time_now(nullptr), KES_INVALIDPARAMETER);
}

TEST(Clock, ReadsTheWallClock) {
    time_t before = time(nullptr);
    kes_time now{0, 0};
    ASSERT_EQ(kes_time_now(&now), KES_SUCCESS);
    time_t after = time(nullptr);
    EXPECT_GE(now.seconds, static_cast<int64_t>(before));
    EXPECT_LE(now.seconds, static_cast<int64_t>(after));
    EXPECT_GE(now.microseconds, 0);
    EXPECT_LE(now.microseconds, 999999);
}

TEST(Clock, TestClockReplacesNowAndSleepUntilItGoes) {
    {
        qeltest::TestClock clock(kes_time{4102444800, 250});
        kes_time now{0, 0};
        ASSERT_EQ(kes_time_now(&now), KES_SUCCESS);
        EXPECT_EQ(now, (kes_time{4102444800, 250}));

        kes_time span{31, 999999};
        ASSERT_EQ(kes_sleep(&span), KES_SUCCESS);
        ASSERT_EQ(kes_time_now(&now), KES_SUCCESS);
        EXPECT_EQ(now, (kes_time{4102444832, 249}));
        EXPECT_EQ(clock.sleeps(), 1u);

        clock.advance(0, 2);
        EXPECT_EQ(clock.now(), (kes_time{4102444832, 251}));
        // Invalid spans are refused before the clock sees them.
        kes_time negative{0, -1};
        EXPECT_EQ(kes_sleep(&negative), KES_INVALIDPARAMETER);
        EXPECT_EQ(clock.sleeps(), 1u);
    }
    kes_time now{0, 0};
    ASSERT_EQ(kes_time_now(&now), KES_SUCCESS);
    EXPECT_LT(now.seconds, 4102444800);
}

TEST(Sleep, RefusesNegativeOrMissingSpans) {
    kes_time negativeMicros{0, -1};
    kes_time negativeSeconds{-1, 0};
    EXPECT_EQ(kes_sleep(&negativeMicros), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_sleep(&negativeSeconds), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_sleep(nullptr), KES_INVALIDPARAMETER);
}

TEST(Sleep, RoundsMicrosecondsUpToAWholeMillisecond) {
    kes_time span{0, 1};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kes_sleep(&span), KES_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

// The span to sleep for any field values, the largest among them, computed
// without overflow (the sanitizer build would report one).
TEST(Sleep, TheSpanCarriesMicrosecondsAndRoundsUpWithoutOverflow) {
    struct Case {
        kes_time in;
        kes_time out;
    };
    const Case cases[] = {
        {{0, 0}, {0, 0}},
        {{0, 1}, {0, 1000}},
        {{0, 999999}, {1, 0}},
        {{2, 1000000}, {3, 0}},
        {{0, INT32_MAX}, {2147, 484000}},
        {{INT64_MAX, INT32_MAX}, {KES_SLEEP_MAX_SECONDS, 0}},
        {{KES_SLEEP_MAX_SECONDS - 1, 999999}, {KES_SLEEP_MAX_SECONDS, 0}},
    };
    for (const Case& c : cases) {
        kes_time span{-1, -1};
        ASSERT_EQ(kes_sleep_span(&c.in, &span), KES_SUCCESS)
            << c.in.seconds << " s " << c.in.microseconds << " us";
        EXPECT_EQ(span.seconds, c.out.seconds) << c.in.seconds << " s " << c.in.microseconds;
        EXPECT_EQ(span.microseconds, c.out.microseconds)
            << c.in.seconds << " s " << c.in.microseconds;
    }
    kes_time span{0, 0};
    const kes_time negative{0, -1};
    EXPECT_EQ(kes_sleep_span(&negative, &span), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_sleep_span(nullptr, &span), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_sleep_span(&negative, nullptr), KES_INVALIDPARAMETER);
}

class TimeFormat : public ::testing::Test {
protected:
    void SetUp() override { qeltest::useUtcTimeZone(); }
    static std::string formatted(int64_t seconds) {
        char buffer[KES_TIME_FORMAT_SIZE];
        kes_time t{seconds, 0};
        return kes_time_format(&t, buffer);
    }
};

TEST_F(TimeFormat, WritesTheFixedFormWithTheDayPaddedByASpace) {
    EXPECT_EQ(formatted(0), "Thu Jan  1 00:00:00 1970\n");
    EXPECT_EQ(formatted(93835), "Fri Jan  2 02:03:55 1970\n");
    EXPECT_EQ(formatted(864000), "Sun Jan 11 00:00:00 1970\n");
    // Past 2038, where 32-bit seconds would have run out.
    EXPECT_EQ(formatted(4102444800), "Fri Jan  1 00:00:00 2100\n");
    EXPECT_EQ(formatted(32535215999), "Wed Dec 31 23:59:59 3000\n");
}

TEST_F(TimeFormat, MarksTimesItCannotWrite) {
    EXPECT_EQ(formatted(253402300800), "??? ??? ?? ??:??:?? ????\n");
    EXPECT_EQ(formatted(INT64_MAX), "??? ??? ?? ??:??:?? ????\n");
}

TEST_F(TimeFormat, UsesNowWithoutATime) {
    qeltest::TestClock clock(kes_time{93835, 0});
    char buffer[KES_TIME_FORMAT_SIZE];
    EXPECT_STREQ(kes_time_format(nullptr, buffer), "Fri Jan  2 02:03:55 1970\n");
    EXPECT_EQ(kes_time_format(nullptr, nullptr), nullptr);
}

} // namespace
