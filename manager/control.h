// The manager's control channel: a Unix stream socket, usable by the user who
// runs the manager only, over which `qel-manager ctl COMMAND ARGS` reaches the
// running daemon. One connection carries one request and one answer.
//
// Request: the arguments, each followed by a NUL byte, then one more NUL (an
// empty argument ends the list), at most CONTROL_REQUEST_MAX bytes in all.
// Answer: "ok\n" followed by the handler's text, or "error: <text>\n"; the
// server closes the connection after the answer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

constexpr size_t CONTROL_REQUEST_MAX = 4096;
// How long the server waits for a client's request (and for a client to take
// the answer).
constexpr int CONTROL_READ_TIMEOUT_MS = 1000;
// How long a client waits for the answer: the daemon may be busy with its
// own work, or with loading a file for the command, before it answers.
constexpr int CONTROL_ANSWER_TIMEOUT_MS = 5000;
// The daemon answers `burst N` once it has sent every event: the client
// waits this much longer for each (a thousand events a second at the least,
// which a loaded machine running an instrumented manager still manages).
constexpr int CONTROL_BURST_WAIT_PER_EVENT_MS = 1;

// How long the client waits for the answer to the command `args`.
int controlAnswerWaitMs(const std::vector<std::string>& args);

// $XDG_RUNTIME_DIR/qel-manager-<uid>.sock, or /tmp/... when XDG_RUNTIME_DIR is
// unset or not absolute.
std::string defaultControlPath();

class ControlServer {
public:
    ControlServer() = default;
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    ~ControlServer();

    // Creates the listening socket at `path` (non-blocking, close-on-exec,
    // mode 0600). Refuses with "<path>: another manager is already running"
    // when a server answers there; a stale socket file is removed first; a
    // path that exists and is not a socket is refused, never removed.
    bool open(const std::string& path, std::string& error);
    // The listening socket, or -1 when not open; poll it for readability.
    int fd() const { return m_fd; }
    // The path given to a successful open ("" when not open).
    const std::string& path() const { return m_path; }
    // Replaces CONTROL_READ_TIMEOUT_MS for this server (tests use short ones).
    void setReadTimeoutMs(int milliseconds) { m_readTimeoutMs = milliseconds; }
    // Closes the socket and removes its file (only if it is still ours).
    void close();

    // The handler gets the request's arguments (at least one) and sets `ok`
    // (true on entry); its return value is the answer text: after "ok\n"
    // when ok, after "error: " (with a "\n" added when missing) otherwise.
    using Handler = std::function<std::string(const std::vector<std::string>& args, bool& ok)>;
    // Accepts one pending connection, if any, and serves it: reads the request
    // (waiting at most CONTROL_READ_TIMEOUT_MS), checks that the peer runs as
    // this process's user, calls the handler and writes the answer. Requests
    // from other users, malformed, oversize or empty requests get an error
    // answer without the handler being called. Never blocks longer than about
    // 2 * CONTROL_READ_TIMEOUT_MS and never throws; an exception from the
    // handler becomes an error answer.
    void acceptAndServe(const Handler& handler);

private:
    int m_fd = -1;
    int m_readTimeoutMs = CONTROL_READ_TIMEOUT_MS;
    std::string m_path;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
};

// Sends `args` to the server at `path` and waits up to
// controlAnswerWaitMs(args) for the answer. Returns
//   0: `output` is the text after "ok\n";
//   1: `output` is the error answer ("error: ...\n"), or a request that
//      cannot be sent ("error: no command given\n", an empty argument, an
//      argument holding a NUL byte, a request over CONTROL_REQUEST_MAX);
//   2: no manager answers: `output` is "no manager is running (<path>)\n"
//      when nothing listens there, otherwise another one-line reason.
int runControlCommand(const std::string& path, const std::vector<std::string>& args,
                      std::string& output);
