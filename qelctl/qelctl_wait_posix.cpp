// qelctl's waits on POSIX: the waker is a non-blocking pipe, a wait is one
// poll() of the socket and the pipe's read end, and the stop requests are
// signals whose handler writes to the pipe.
#include "qelctl_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace qelctl {
namespace {

Waker* g_signalled = nullptr;

extern "C" void onSignal(int signal) {
    if (g_signalled != nullptr) {
        g_signalled->stop(signal);
    }
}

} // namespace

Waker::Waker() {
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        m_read = ends[0];
        m_write = ends[1];
    }
}

Waker::~Waker() {
    if (m_read != KES_INVALID_SOCKET) {
        ::close(m_read);
        ::close(m_write);
    }
}

void Waker::stop(int signal) {
    m_stop = signal;
    const unsigned char byte = 1;
    if (m_write != KES_INVALID_SOCKET) {
        // A full pipe already wakes the wait.
        [[maybe_unused]] const ssize_t written = ::write(m_write, &byte, 1);
    }
}

void Waker::tick() {
    const unsigned char byte = 0;
    if (m_write != KES_INVALID_SOCKET) {
        [[maybe_unused]] const ssize_t written = ::write(m_write, &byte, 1);
    }
}

int Waker::drain() {
    unsigned char bytes[64];
    while (m_read != KES_INVALID_SOCKET && ::read(m_read, bytes, sizeof bytes) > 0) {
    }
    return m_stop;
}

bool waitSocketOrWaker(kes_socket sock, const Waker* waker, int milliseconds) {
    pollfd fds[2] = {{sock, POLLIN, 0}, {waker != nullptr ? waker->fd() : -1, POLLIN, 0}};
    const int ready = poll(fds, 2, milliseconds);
    return (ready < 0 && errno == EINTR) || (ready > 0 && fds[1].revents != 0);
}

void stopOnSignals(Waker* waker) {
    g_signalled = waker;
    struct sigaction action {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
}

} // namespace qelctl
