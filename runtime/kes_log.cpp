// The log object. A message is formatted once into the log's buffer, behind
// room reserved for the line's prefix, so each destination gets its whole line
// ("[stamp ]Level text\n") in one write.
#include "kes_log.h"

#include "kes_text.h"
#include "kes_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

// Room before the text for "Mmm dd hh:mm:ss Verbose " (the longest prefix).
constexpr size_t k_prefix_room = 32;
// Prefix room, the text (at most KES_LOG_BUFFER_SIZE - 1 characters and its
// terminator) and one more byte for a line feed the text lacks.
constexpr size_t k_allocation = k_prefix_room + KES_LOG_BUFFER_SIZE + 1;

const char* const k_level_names[] = {"None",   "Critical", "Error", "Warning",
                                     "Notice", "Info",     "Debug", "Verbose"};

bool validDestination(uint32_t destination) {
    return destination == KES_LOG_STDOUT || destination == KES_LOG_STDERR;
}

void writeStream(uint32_t destination, const char* line, size_t length) {
    FILE* stream = destination == KES_LOG_STDOUT ? stdout : stderr;
    std::fwrite(line, 1, length, stream);
    std::fflush(stream);
}

} // namespace

const char* kes_log_level_name(uint32_t level) {
    return level < sizeof k_level_names / sizeof k_level_names[0] ? k_level_names[level] : "Undef";
}

kes_log* kes_log_new() {
    auto* log = static_cast<kes_log*>(std::calloc(1, sizeof(kes_log)));
    if (log == nullptr) {
        return nullptr;
    }
    log->timestamp[KES_LOG_STDOUT] = true;
    log->timestamp[KES_LOG_STDERR] = true;
    return log;
}

void kes_log_free(kes_log* log) {
    if (log == nullptr) {
        return;
    }
    std::free(log->buffer);
    std::free(log);
}

kes_result kes_log_set_threshold(kes_log* log, uint32_t destination, uint32_t level) {
    if (log == nullptr || !validDestination(destination)) {
        return KES_INVALIDPARAMETER;
    }
    if (log->threshold[destination] == level) {
        return KES_SUCCESS;
    }
    log->threshold[destination] = level;
    if (level > log->overall) {
        log->overall = level;
    } else {
        uint32_t out = log->threshold[KES_LOG_STDOUT];
        uint32_t err = log->threshold[KES_LOG_STDERR];
        log->overall = out > err ? out : err;
    }
    return KES_SUCCESS;
}

kes_result kes_log_set_timestamp(kes_log* log, uint32_t destination, bool on) {
    if (log == nullptr || !validDestination(destination)) {
        return KES_INVALIDPARAMETER;
    }
    log->timestamp[destination] = on;
    return KES_SUCCESS;
}

kes_result kes_log_set_sink(kes_log* log, uint32_t destination, const kes_log_sink* sink) {
    if (log == nullptr || !validDestination(destination)) {
        return KES_INVALIDPARAMETER;
    }
    log->sink[destination] = sink != nullptr ? *sink : kes_log_sink{nullptr, nullptr};
    return KES_SUCCESS;
}

void kes_log_printf(kes_log* log, uint32_t level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    kes_log_vprintf(log, level, format, arguments);
    va_end(arguments);
}

void kes_log_vprintf(kes_log* log, uint32_t level, const char* format, va_list arguments) {
    // Level None is a threshold only: no message is ever written at it.
    if (log == nullptr || level == KES_LOG_NONE || level > log->overall) {
        return;
    }
    if (log->buffer == nullptr) {
        log->buffer = static_cast<char*>(std::calloc(1, k_allocation));
        if (log->buffer == nullptr) {
            return; // dropped; the next message tries again
        }
    }
    char* text = log->buffer + k_prefix_room;
    int result = kes_vsnprintf(text, KES_LOG_BUFFER_SIZE, format, arguments);
    if (result <= 0) {
        return;
    }
    size_t length = static_cast<size_t>(result);
    if (length > KES_LOG_BUFFER_SIZE - 1) {
        length = KES_LOG_BUFFER_SIZE - 1;
    }
    if (text[length - 1] != '\n') {
        text[length++] = '\n';
    }

    const char* stamp = "";
    if (log->timestamp[KES_LOG_STDOUT] || log->timestamp[KES_LOG_STDERR]) {
        kes_time now{0, 0};
        kes_time_now(&now);
        if (log->stamp[0] == '\0' || now.seconds != log->stamp_seconds) {
            char formatted[KES_TIME_FORMAT_SIZE];
            kes_snprintf(log->stamp, sizeof log->stamp, "%15.15s",
                         kes_time_format(&now, formatted) + 4);
            log->stamp_seconds = now.seconds;
        }
        stamp = log->stamp;
    }

    for (uint32_t destination : {KES_LOG_STDOUT, KES_LOG_STDERR}) {
        if (level > log->threshold[destination]) {
            continue;
        }
        char prefix[k_prefix_room];
        int prefixLength =
            log->timestamp[destination]
                ? kes_snprintf(prefix, sizeof prefix, "%s %s ", stamp, kes_log_level_name(level))
                : kes_snprintf(prefix, sizeof prefix, "%s ", kes_log_level_name(level));
        size_t p = static_cast<size_t>(prefixLength);
        char* line = text - p;
        std::memcpy(line, prefix, p);
        const kes_log_sink& sink = log->sink[destination];
        if (sink.write != nullptr) {
            sink.write(sink.context, line, p + length);
        } else {
            writeStream(destination, line, p + length);
        }
    }
}
