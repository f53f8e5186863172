// The Windows local time: the C library converts no time before 1970 (nor,
// on Windows itself, after the year 3000), and such a time is marked.
#include "kes_time.h"

#include "test_platform.h"

#include <gtest/gtest.h>

namespace {

TEST(LocalTimeText, MarksTimesBefore1970) {
    qeltest::useUtcTimeZone();
    char buffer[KES_TIME_FORMAT_SIZE];
    const kes_time before{-1, 0};
    EXPECT_STREQ(kes_time_format(&before, buffer), "??? ??? ?? ??:??:?? ????\n");
}

} // namespace
