#include "control.h"

#include "kes_result.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

using Clock = std::chrono::steady_clock;

// Answers are the daemon's own texts (a status report at most); anything
// larger is not an answer from a manager.
constexpr size_t CONTROL_ANSWER_MAX = 1024 * 1024;

std::string systemText(int error) {
    return kes_system_error_text(static_cast<uint32_t>(error));
}

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int ready = poll(&entry, 1, remainingMs(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Writes all of `text` to a non-blocking socket before the deadline. Never
// raises SIGPIPE: a peer that has gone away is just a failed write.
bool sendAll(int fd, const std::string& text, Clock::time_point deadline) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t sent = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
            waitFor(fd, POLLOUT, deadline)) {
            continue;
        }
        return false;
    }
    return true;
}

enum class Read { Complete, TooLong, TimedOut, Closed, Failed };

// Splits a request into its arguments: true once the empty argument that
// ends the list has arrived.
bool parseRequest(const std::string& buffer, std::vector<std::string>& args) {
    args.clear();
    size_t position = 0;
    for (;;) {
        size_t end = buffer.find('\0', position);
        if (end == std::string::npos) {
            return false;
        }
        if (end == position) {
            return true;
        }
        args.push_back(buffer.substr(position, end - position));
        position = end + 1;
    }
}

Read readRequest(int fd, Clock::time_point deadline, std::vector<std::string>& args) {
    std::string buffer;
    char chunk[1024];
    for (;;) {
        if (buffer.size() == CONTROL_REQUEST_MAX) {
            return Read::TooLong;
        }
        size_t want = std::min(sizeof chunk, CONTROL_REQUEST_MAX - buffer.size());
        ssize_t got = recv(fd, chunk, want, 0);
        if (got > 0) {
            buffer.append(chunk, static_cast<size_t>(got));
            if (parseRequest(buffer, args)) {
                return Read::Complete;
            }
            continue;
        }
        if (got == 0) {
            return Read::Closed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return Read::Failed;
        }
        if (!waitFor(fd, POLLIN, deadline)) {
            return Read::TimedOut;
        }
    }
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string pathTooLong(const std::string& path) {
    return path + ": not usable as a socket path (1 to " +
           std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes)";
}

} // namespace

std::string defaultControlPath() {
    const char* runtimeDirectory = std::getenv("XDG_RUNTIME_DIR");
    std::string base =
        runtimeDirectory != nullptr && runtimeDirectory[0] == '/' ? runtimeDirectory : "/tmp";
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + "/qel-manager-" + std::to_string(getuid()) + ".sock";
}

ControlServer::~ControlServer() {
    close();
}

bool ControlServer::open(const std::string& path, std::string& error) {
    close();
    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        error = pathTooLong(path);
        return false;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + ": exists and is not a socket; not replacing it";
            return false;
        }
        // A socket file stays behind when a manager dies; only one nobody
        // answers on may be replaced.
        int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe < 0) {
            error = path + ": cannot create a socket: " + systemText(errno);
            return false;
        }
        int result = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        int probeError = errno;
        ::close(probe);
        if (result == 0 || probeError == EAGAIN || probeError == EINPROGRESS) {
            error = path + ": another manager is already running";
            return false;
        }
        if (probeError == ECONNREFUSED) {
            if (unlink(path.c_str()) != 0 && errno != ENOENT) {
                error = path + ": cannot remove the stale socket: " + systemText(errno);
                return false;
            }
        } else if (probeError != ENOENT) {
            error = path + ": cannot check the existing socket: " + systemText(probeError);
            return false;
        }
    } else if (errno != ENOENT) {
        error = path + ": cannot check the path: " + systemText(errno);
        return false;
    }

    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = path + ": cannot create a socket: " + systemText(errno);
        return false;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int saved = errno;
        ::close(fd);
        error = path + ": cannot bind: " + systemText(saved);
        return false;
    }
    // Until the chmod another user might connect; the peer check refuses them.
    struct stat bound {};
    if (chmod(path.c_str(), 0600) != 0 || listen(fd, 16) != 0 || lstat(path.c_str(), &bound) != 0) {
        int saved = errno;
        unlink(path.c_str());
        ::close(fd);
        error = path + ": cannot set up the socket: " + systemText(saved);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_dev = bound.st_dev;
    m_ino = bound.st_ino;
    return true;
}

void ControlServer::close() {
    if (m_fd < 0) {
        return;
    }
    // Remove the file first, and only if it is still ours: another manager
    // may have replaced it after judging it stale.
    struct stat info {};
    if (lstat(m_path.c_str(), &info) == 0 && info.st_dev == m_dev && info.st_ino == m_ino) {
        unlink(m_path.c_str());
    }
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_dev = 0;
    m_ino = 0;
}

void ControlServer::acceptAndServe(const Handler& handler) {
    if (m_fd < 0) {
        return;
    }
    int client;
    do {
        client = accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (client < 0 && errno == EINTR);
    if (client < 0) {
        return; // nothing pending, or the client already gave up
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(m_readTimeoutMs);
    std::vector<std::string> args;
    std::string answer;
    switch (readRequest(client, deadline, args)) {
    case Read::Complete:
        break;
    case Read::TooLong:
        answer = "error: request too long (more than " + std::to_string(CONTROL_REQUEST_MAX) +
                 " bytes)\n";
        break;
    case Read::TimedOut:
        answer = "error: request incomplete after " + std::to_string(m_readTimeoutMs) + " ms\n";
        break;
    case Read::Closed:
    case Read::Failed:
        answer = "error: request incomplete\n";
        break;
    }
    if (answer.empty()) {
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            length != sizeof peer || peer.uid != geteuid()) {
            answer = "error: permission denied\n";
        } else if (args.empty()) {
            answer = "error: empty request\n";
        }
    }
    if (answer.empty()) {
        bool ok = true;
        std::string text;
        try {
            text = handler(args, ok);
        } catch (const std::exception& e) {
            ok = false;
            text = std::string("internal error: ") + e.what();
        } catch (...) {
            ok = false;
            text = "internal error";
        }
        if (ok) {
            answer = "ok\n" + text;
        } else {
            answer = "error: " + (text.empty() ? std::string("failed") : text);
            if (answer.back() != '\n') {
                answer += '\n';
            }
        }
    }
    const Clock::time_point sendDeadline =
        Clock::now() + std::chrono::milliseconds(m_readTimeoutMs);
    sendAll(client, answer, sendDeadline);
    ::close(client);
}

int controlAnswerWaitMs(const std::vector<std::string>& args) {
    if (args.size() == 2 && args[0] == "burst" && !args[1].empty() && args[1].size() <= 7 &&
        args[1].find_first_not_of("0123456789") == std::string::npos) {
        return CONTROL_ANSWER_TIMEOUT_MS +
               static_cast<int>(std::strtoul(args[1].c_str(), nullptr, 10)) *
                   CONTROL_BURST_WAIT_PER_EVENT_MS;
    }
    return CONTROL_ANSWER_TIMEOUT_MS;
}

int runControlCommand(const std::string& path, const std::vector<std::string>& args,
                      std::string& output) {
    if (args.empty()) {
        output = "error: no command given\n";
        return 1;
    }
    std::string request;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i].empty()) {
            output = "error: argument " + std::to_string(i + 1) + " is empty\n";
            return 1;
        }
        if (args[i].find('\0') != std::string::npos) {
            output = "error: argument " + std::to_string(i + 1) + " contains a NUL byte\n";
            return 1;
        }
        request += args[i];
        request += '\0';
    }
    request += '\0';
    if (request.size() > CONTROL_REQUEST_MAX) {
        output = "error: the request is too long (" + std::to_string(request.size()) +
                 " bytes, at most " + std::to_string(CONTROL_REQUEST_MAX) + ")\n";
        return 1;
    }

    sockaddr_un address{};
    if (!fillAddress(path, address)) {
        output = "cannot reach the manager: " + pathTooLong(path) + "\n";
        return 2;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        output = "cannot reach the manager (" + path + "): " + systemText(errno) + "\n";
        return 2;
    }
    // A connect waits while the manager's backlog is full; not for ever.
    timeval limit{CONTROL_ANSWER_TIMEOUT_MS / 1000, (CONTROL_ANSWER_TIMEOUT_MS % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int answerWaitMs = controlAnswerWaitMs(args);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(answerWaitMs);
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        int saved = errno;
        ::close(fd);
        if (saved == ENOENT || saved == ECONNREFUSED || saved == ENOTSOCK) {
            output = "no manager is running (" + path + ")\n";
        } else {
            output = "cannot reach the manager (" + path + "): " + systemText(saved) + "\n";
        }
        return 2;
    }
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    // A failed send is not the end: the manager may have answered and closed.
    sendAll(fd, request, deadline);

    std::string answer;
    bool timedOut = false;
    char chunk[4096];
    for (;;) {
        ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got > 0) {
            answer.append(chunk, static_cast<size_t>(got));
            if (answer.size() > CONTROL_ANSWER_MAX) {
                break;
            }
            continue;
        }
        if (got == 0) {
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitFor(fd, POLLIN, deadline)) {
            continue;
        }
        timedOut = errno == EAGAIN || errno == EWOULDBLOCK;
        break;
    }
    ::close(fd);

    if (timedOut) {
        output = "the manager did not answer within " + std::to_string(answerWaitMs / 1000) +
                 " s (" + path + ")\n";
        return 2;
    }
    if (answer.size() <= CONTROL_ANSWER_MAX && answer.compare(0, 3, "ok\n") == 0) {
        output = answer.substr(3);
        return 0;
    }
    if (answer.size() <= CONTROL_ANSWER_MAX && answer.compare(0, 7, "error: ") == 0) {
        output = answer;
        return 1;
    }
    output = answer.empty() ? "no answer from the manager (" + path + ")\n"
                            : "unexpected answer from the manager (" + path + ")\n";
    return 2;
}
