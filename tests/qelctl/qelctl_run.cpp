#include "qelctl_run.h"

#include "qelctl_commands.h"

#include <chrono>
#include <csignal>
#include <sstream>
#include <thread>

namespace qeltest {
namespace {

int runWith(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            qelctl::Waker* waker) {
    const qelctl::Parsed parsed = qelctl::parseCommandLine(args);
    if (parsed.end != qelctl::ParseEnd::RUN) {
        err << "qelctl: " << parsed.error << "\n";
        return parsed.end == qelctl::ParseEnd::USAGE ? qelctl::EXIT_USAGE : qelctl::EXIT_DONE;
    }
    kes_env* env = nullptr;
    if (kes_env_acquire(&env) != KES_SUCCESS) {
        return -1;
    }
    qelctl::Context context{out, err, env, waker};
    const int status = qelctl::run(parsed.invocation, context);
    kes_env_release(env);
    return status;
}

} // namespace

std::string SharedText::text() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
}

bool SharedText::waitFor(const std::string& part, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (text().find(part) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int SharedText::overflow(int c) {
    if (c != traits_type::eof()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text += static_cast<char>(c);
    }
    return c;
}

std::streamsize SharedText::xsputn(const char* s, std::streamsize n) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_text.append(s, static_cast<size_t>(n));
    return n;
}

QelctlRun runQelctl(const std::vector<std::string>& args, qelctl::Waker* waker) {
    std::ostringstream out;
    std::ostringstream err;
    QelctlRun run;
    run.exitCode = runWith(args, out, err, waker);
    run.out = out.str();
    run.err = err.str();
    return run;
}

QelctlThread::QelctlThread(const std::vector<std::string>& args, qelctl::Waker* waker)
    : m_waker(waker) {
    m_result = std::async(std::launch::async, [this, args, waker] {
        std::ostream out(&m_out);
        std::ostream err(&m_err);
        return runWith(args, out, err, waker);
    });
}

QelctlThread::~QelctlThread() {
    if (m_result.valid()) {
        // A test that failed half-way still ends the command.
        if (m_waker != nullptr &&
            m_result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
            m_waker->stop(SIGTERM);
        }
        m_result.wait();
    }
}

int QelctlThread::wait(int timeoutMs) {
    if (!m_result.valid()) {
        return -1;
    }
    if (m_result.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        return -1;
    }
    return m_result.get();
}

} // namespace qeltest
