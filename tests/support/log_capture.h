// Captures the exact lines a log writes to one destination, for as long as
// the capture exists.
#pragma once

#include "kes_log.h"

#include <string>
#include <vector>

namespace qeltest {

class LogCapture {
public:
    explicit LogCapture(kes_log* log, uint32_t destination = KES_LOG_STDERR);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written, byte for byte.
    const std::string& text() const { return m_text; }
    // The lines written, each without its final line feed.
    std::vector<std::string> lines() const;
    // The lines with the 15-character stamp and its space removed (lines
    // written without a stamp are returned whole).
    std::vector<std::string> unstamped() const;
    void clear() { m_text.clear(); }

private:
    static void onWrite(void* context, const char* line, size_t length);

    kes_log* m_log;
    uint32_t m_destination;
    std::string m_text;
};

} // namespace qeltest
