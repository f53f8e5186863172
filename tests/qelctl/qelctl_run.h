// Runs qelctl's commands in the test's own process, as the program does:
// the command line parsed, the command run, its output captured. A command
// that waits (watch, wait) runs on a thread of its own while the test reads
// its output and moves the test clock.
#pragma once

#include "qelctl_session.h"

#include <future>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace qeltest {

// Text one thread writes and another reads.
class SharedText : public std::streambuf {
public:
    std::string text() const;
    // Waits at most `timeoutMs` for the text to hold `part`.
    bool waitFor(const std::string& part, int timeoutMs = 3000) const;

protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    mutable std::mutex m_mutex;
    std::string m_text;
};

struct QelctlRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Parses and runs; a usage error gives 2 and its message as the program
// prints it (without the hint line).
QelctlRun runQelctl(const std::vector<std::string>& args, qelctl::Waker* waker = nullptr);

// The same on a thread of its own, writing into `out` and `err`.
class QelctlThread {
public:
    // The waker ends the command when the test leaves it running.
    QelctlThread(const std::vector<std::string>& args, qelctl::Waker* waker);
    ~QelctlThread();

    const SharedText& out() const { return m_out; }
    const SharedText& err() const { return m_err; }
    // Waits at most `timeoutMs` for the command to end: its exit status, or
    // -1 when it has not ended.
    int wait(int timeoutMs);

private:
    SharedText m_out;
    SharedText m_err;
    qelctl::Waker* m_waker;
    std::future<int> m_result;
};

} // namespace qeltest
