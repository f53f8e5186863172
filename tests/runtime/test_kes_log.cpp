// The log's thresholds, line format, cuts and stream output, and the
// environment that owns it.
#include "kes_env.h"
#include "kes_log.h"

#include "log_capture.h"
#include "test_clock.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

using qeltest::LogCapture;
using qeltest::TestClock;

class Log : public ::testing::Test {
protected:
    void SetUp() override {
        qeltest::useUtcTimeZone();
        m_log = kes_log_new();
        ASSERT_NE(m_log, nullptr);
    }
    void TearDown() override { kes_log_free(m_log); }

    // 1970-01-02 02:03:55 UTC.
    TestClock m_clock{kes_time{93835, 0}};
    kes_log* m_log = nullptr;
};

TEST_F(Log, NewLogWritesNothingAtAnyLevel) {
    LogCapture out(m_log, KES_LOG_STDOUT);
    LogCapture err(m_log, KES_LOG_STDERR);
    for (uint32_t level = 0; level <= 9; ++level) {
        kes_log_printf(m_log, level, "%s: level %u\n", "x", level);
    }
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(m_log->buffer, nullptr);
}

TEST_F(Log, WritesOneStampedLinePerMessageUpToTheThreshold) {
    LogCapture err(m_log);
    ASSERT_EQ(kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG), KES_SUCCESS);
    kes_log_printf(m_log, KES_LOG_VERBOSE, "%s: discarded\n", "x");
    EXPECT_EQ(m_log->buffer, nullptr) << "a discarded message must not be formatted";
    kes_log_printf(m_log, KES_LOG_DEBUG, "%s: done\n", "x");
    EXPECT_EQ(err.text(), "Jan  2 02:03:55 Debug x: done\n");
}

// Lines of one second share a stamp formatted once; every other second, later
// or earlier (the clock set back), gets its own.
TEST_F(Log, EachLineIsStampedWithItsOwnSecond) {
    LogCapture err(m_log);
    ASSERT_EQ(kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG), KES_SUCCESS);
    const struct {
        int64_t advance_s;
        int32_t advance_us;
        const char* line;
    } steps[] = {
        {0, 0, "Jan  2 02:03:55 Debug a\n"},
        {0, 999999, "Jan  2 02:03:55 Debug b\n"},
        {0, 1, "Jan  2 02:03:56 Debug c\n"},
        {86400 * 31, 0, "Feb  2 02:03:56 Debug d\n"},
        {-86400 * 31 - 2, 0, "Jan  2 02:03:54 Debug e\n"},
    };
    std::string expected;
    for (const auto& step : steps) {
        m_clock.advance(step.advance_s, step.advance_us);
        kes_log_printf(m_log, KES_LOG_DEBUG, "%c\n", step.line[22]);
        expected += step.line;
    }
    EXPECT_EQ(err.text(), expected);
}

TEST_F(Log, EndsEveryLineWithExactlyOneLineFeed) {
    LogCapture err(m_log);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG);
    kes_log_set_timestamp(m_log, KES_LOG_STDERR, false);
    kes_log_printf(m_log, KES_LOG_ERROR, "%s: no line feed", "a");
    kes_log_printf(m_log, KES_LOG_WARNING, "%s: one\n", "b");
    kes_log_printf(m_log, KES_LOG_NOTICE, "%s: two\nlines\n", "c");
    kes_log_printf(m_log, KES_LOG_INFO, "%s", "");
    kes_log_printf(m_log, KES_LOG_CRITICAL, "\n");
    EXPECT_EQ(err.text(), "Error a: no line feed\n"
                          "Warning b: one\n"
                          "Notice c: two\nlines\n"
                          "Critical \n");
}

TEST_F(Log, NamesLevelsOutsideTheTableUndef) {
    LogCapture err(m_log);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, 9);
    kes_log_set_timestamp(m_log, KES_LOG_STDERR, false);
    kes_log_printf(m_log, 9, "x: nine\n");
    EXPECT_EQ(err.text(), "Undef x: nine\n");
    EXPECT_STREQ(kes_log_level_name(0), "None");
    EXPECT_STREQ(kes_log_level_name(7), "Verbose");
    EXPECT_STREQ(kes_log_level_name(8), "Undef");
}

TEST_F(Log, RoutesByEachDestinationsThreshold) {
    LogCapture out(m_log, KES_LOG_STDOUT);
    LogCapture err(m_log, KES_LOG_STDERR);
    kes_log_set_threshold(m_log, KES_LOG_STDOUT, KES_LOG_INFO);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_WARNING);
    kes_log_set_timestamp(m_log, KES_LOG_STDOUT, false);
    kes_log_printf(m_log, KES_LOG_INFO, "x: info\n");
    kes_log_printf(m_log, KES_LOG_ERROR, "x: error\n");
    EXPECT_EQ(out.text(), "Info x: info\nError x: error\n");
    EXPECT_EQ(err.text(), "Jan  2 02:03:55 Error x: error\n");
}

TEST_F(Log, RecomputesTheOverallThresholdWhenOneIsLowered) {
    kes_log_set_threshold(m_log, KES_LOG_STDOUT, 5);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, 3);
    EXPECT_EQ(m_log->overall, 5u);
    kes_log_set_threshold(m_log, KES_LOG_STDOUT, 1);
    EXPECT_EQ(m_log->overall, 3u);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, 0);
    EXPECT_EQ(m_log->overall, 1u);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, 7);
    EXPECT_EQ(m_log->overall, 7u);
}

TEST_F(Log, CutsLongTextsTo16383Characters) {
    LogCapture err(m_log);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG);
    kes_log_set_timestamp(m_log, KES_LOG_STDERR, false);
    std::string piece(1000, 'y');
    std::string format;
    for (int i = 0; i < 20; ++i) {
        format += "%s";
    }
    const char* p = piece.c_str();
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    kes_log_printf(m_log, KES_LOG_ERROR, format.c_str(), p, p, p, p, p, p, p, p, p, p, p, p, p, p,
                   p, p, p, p, p, p);
#pragma GCC diagnostic pop
    EXPECT_EQ(err.text(), "Error " + std::string(16383, 'y') + "\n");
}

TEST_F(Log, RejectsUnknownDestinationsAndMissingLogs) {
    EXPECT_EQ(kes_log_set_threshold(m_log, 0, 6), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_log_set_threshold(m_log, 3, 6), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_log_set_threshold(nullptr, KES_LOG_STDERR, 6), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_log_set_timestamp(m_log, 7, false), KES_INVALIDPARAMETER);
    EXPECT_EQ(kes_log_set_sink(nullptr, KES_LOG_STDERR, nullptr), KES_INVALIDPARAMETER);
    EXPECT_EQ(m_log->overall, 0u);
    kes_log_printf(nullptr, KES_LOG_CRITICAL, "x: nothing\n");
    kes_log_free(nullptr);
}

// Captures what the process writes to file descriptor 2 while it lives.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = dup(2);
        dup2(fileno(m_file), 2);
    }
    std::string finish() {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        std::string text;
        std::rewind(m_file);
        char chunk[256];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0) {
            text.append(chunk, n);
        }
        std::fclose(m_file);
        return text;
    }

private:
    FILE* m_file;
    int m_saved;
};

TEST_F(Log, WritesToStandardErrorWithoutASink) {
    kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG);
    StderrCapture capture;
    kes_log_printf(m_log, KES_LOG_WARNING, "%s: message too small (%u < %u)\n",
                   "tesk2_client_process", 19u, 20u);
    EXPECT_EQ(capture.finish(),
              "Jan  2 02:03:55 Warning tesk2_client_process: message too small (19 < 20)\n");
}

TEST(Env, SharesOneLogUntilTheLastRelease) {
    kes_env* first = nullptr;
    kes_env* second = nullptr;
    ASSERT_EQ(kes_env_acquire(&first), KES_SUCCESS);
    ASSERT_NE(first->log, nullptr);
    EXPECT_TRUE(first->owns_log);
    ASSERT_EQ(kes_env_acquire(&second), KES_SUCCESS);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->users, 2u);

    EXPECT_EQ(kes_env_release(second), KES_SUCCESS);
    ASSERT_NE(first->log, nullptr);
    {
        LogCapture err(first->log);
        kes_log_set_threshold(first->log, KES_LOG_STDERR, KES_LOG_DEBUG);
        kes_log_set_timestamp(first->log, KES_LOG_STDERR, false);
        kes_log_printf(first->log, KES_LOG_DEBUG, "%s: still here\n", "env");
        EXPECT_EQ(err.text(), "Debug env: still here\n");
    }
    EXPECT_EQ(kes_env_release(first), KES_SUCCESS);
    EXPECT_EQ(first->log, nullptr);
    EXPECT_EQ(first->users, 0u);
    EXPECT_FALSE(first->owns_log);

    // Releasing more than was acquired changes nothing.
    EXPECT_EQ(kes_env_release(first), KES_SUCCESS);
    EXPECT_EQ(first->users, 0u);
    EXPECT_EQ(kes_env_release(nullptr), KES_SUCCESS);
    EXPECT_EQ(kes_env_acquire(nullptr), KES_INVALIDPARAMETER);
}

TEST(Env, StartsAFreshLogAfterTheLastRelease) {
    kes_env* env = nullptr;
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    kes_log_set_threshold(env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
    ASSERT_EQ(kes_env_release(env), KES_SUCCESS);
    ASSERT_EQ(kes_env_acquire(&env), KES_SUCCESS);
    EXPECT_EQ(env->log->overall, 0u);
    EXPECT_EQ(kes_env_release(env), KES_SUCCESS);
}

} // namespace
