// The log capture swaps in a sink and restores the stream when it goes.
#include "log_capture.h"

#include <cctype>

namespace qeltest {

LogCapture::LogCapture(kes_log* log, uint32_t destination)
    : m_log(log), m_destination(destination) {
    kes_log_sink sink{&LogCapture::onWrite, this};
    kes_log_set_sink(m_log, m_destination, &sink);
}

LogCapture::~LogCapture() {
    kes_log_set_sink(m_log, m_destination, nullptr);
}

void LogCapture::onWrite(void* context, const char* line, size_t length) {
    static_cast<LogCapture*>(context)->m_text.append(line, length);
}

std::vector<std::string> LogCapture::lines() const {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < m_text.size()) {
        size_t end = m_text.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(m_text.substr(start));
            break;
        }
        out.push_back(m_text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// A stamp is "Mmm dd hh:mm:ss" followed by a space: 16 characters whose
// 10th and 13th are colons.
static bool hasStamp(const std::string& line) {
    return line.size() >= 16 && line[9] == ':' && line[12] == ':' && line[15] == ' ' &&
           std::isalpha(static_cast<unsigned char>(line[0]));
}

std::vector<std::string> LogCapture::unstamped() const {
    std::vector<std::string> out = lines();
    for (auto& line : out) {
        if (hasStamp(line)) {
            line.erase(0, 16);
        }
    }
    return out;
}

} // namespace qeltest
