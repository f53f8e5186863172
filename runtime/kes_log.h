// The log: one object that filters messages by level per destination (standard
// output, standard error), formats them with kes_vsnprintf and writes each as
// one line "[stamp ]Level text\n".
#pragma once

#include "kes_result.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

constexpr uint32_t KES_LOG_NONE = 0;
constexpr uint32_t KES_LOG_CRITICAL = 1;
constexpr uint32_t KES_LOG_ERROR = 2;
constexpr uint32_t KES_LOG_WARNING = 3;
constexpr uint32_t KES_LOG_NOTICE = 4;
constexpr uint32_t KES_LOG_INFO = 5;
constexpr uint32_t KES_LOG_DEBUG = 6;
constexpr uint32_t KES_LOG_VERBOSE = 7;

// Destinations.
constexpr uint32_t KES_LOG_STDOUT = 1;
constexpr uint32_t KES_LOG_STDERR = 2;

// The longest message text; longer ones are cut to KES_LOG_BUFFER_SIZE - 1.
constexpr size_t KES_LOG_BUFFER_SIZE = 16384;

// Where a destination's lines go instead of its process stream: `write`
// receives each complete line (stamp, level name, text and line feed) in one
// call. Tests use it to read the exact lines.
struct kes_log_sink {
    void (*write)(void* context, const char* line, size_t length);
    void* context;
};

struct kes_log {
    uint32_t threshold[3]; // by destination; [0] unused
    uint32_t overall;      // the largest destination threshold
    bool timestamp[3];     // by destination
    kes_log_sink sink[3];  // by destination; no write function: the stream
    char* buffer;          // allocated with the first message that passes
    // The time stamp of the last stamped line and the second it names:
    // lines of the same second reuse it, so that a burst of lines formats
    // the local time once.
    int64_t stamp_seconds;
    char stamp[16];
};

// A log with all thresholds 0, time stamps on, no buffer; nullptr when memory
// is short.
kes_log* kes_log_new();

// Frees the buffer and the log; a missing log is accepted.
void kes_log_free(kes_log* log);

// Sets a destination's threshold and keeps the overall threshold the largest
// of them. Missing log or unknown destination: KES_INVALIDPARAMETER.
kes_result kes_log_set_threshold(kes_log* log, uint32_t destination, uint32_t level);

// Turns a destination's time stamp on or off. Missing log or unknown
// destination: KES_INVALIDPARAMETER.
kes_result kes_log_set_timestamp(kes_log* log, uint32_t destination, bool on);

// Sends a destination's lines to `sink` (nullptr: back to its stream). Missing
// log or unknown destination: KES_INVALIDPARAMETER.
kes_result kes_log_set_sink(kes_log* log, uint32_t destination, const kes_log_sink* sink);

// "Critical" ... "Verbose" for levels 1 to 7, "None" for 0, "Undef" otherwise.
const char* kes_log_level_name(uint32_t level);

// Writes one message at `level`. Nothing happens with no log, level None, a
// level above the overall threshold (the format is not even looked at), a failed buffer
// allocation or an empty text; logging never reports a failure.
void kes_log_printf(kes_log* log, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void kes_log_vprintf(kes_log* log, uint32_t level, const char* format, va_list arguments)
    __attribute__((format(printf, 3, 0)));
