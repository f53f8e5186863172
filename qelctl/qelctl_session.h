// qelctl's one connection to the manager: the manager client driven on the
// calling thread, with the panel's start-up waits (CONNECT answered, then
// the options, then the state, each within 5.5 s) and its texts for each way
// they fail, one request at a time with its answer's status, a watch that
// keeps the connection alive, and a DISCONNECT on the way out whatever the
// way. Every wait also ends when the waker is told to stop (a signal), so
// that the DISCONNECT still goes out.
#pragma once

#include "kes_env.h"
#include "kes_socket.h"
#include "kes_time.h"
#include "qel_client.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qelctl {

// Exit statuses.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_REFUSED = 1;     // the manager refused, or a value is not offered
constexpr int EXIT_USAGE = 2;       // the command line is wrong
constexpr int EXIT_UNAVAILABLE = 3; // the manager is not available or does not answer
// Interrupted by a signal: 128 + its number, as shells report it.
constexpr int EXIT_SIGNAL_BASE = 128;

// The limit of each start-up wait and of each answer, as the panel's.
constexpr kes_time WAIT_LIMIT{5, 500000};

// Wakes a waiting session from a signal handler or another thread: a pipe
// (on Windows, a loopback datagram socket connected to itself) whose read end
// every wait watches beside the socket. One implementation per platform, in
// qelctl_wait_posix.cpp and qelctl_wait_win.cpp.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

    bool valid() const { return m_read != KES_INVALID_SOCKET; }
    kes_socket fd() const { return m_read; }
    // Asks every wait to end: the session sends DISCONNECT and the command
    // ends with EXIT_SIGNAL_BASE + signal. Async-signal-safe.
    void stop(int signal);
    // Asks the wait to look at the clock again (tests that move a test clock).
    void tick();
    // Reads what is waiting; the stop signal once one came (0 before).
    int drain();
    int stopSignal() const { return m_stop; }

private:
    kes_socket m_read = KES_INVALID_SOCKET;
    kes_socket m_write = KES_INVALID_SOCKET;
    volatile std::sig_atomic_t m_stop = 0;
};

// Waits until `sock` is readable or has an error to report, the waker (may
// be null) has something to read, or `milliseconds` pass: true when the
// waker's end is readable or a signal cut the wait short (the caller then
// drains the waker).
bool waitSocketOrWaker(kes_socket sock, const Waker* waker, int milliseconds);

// Lets the process's stop requests tell `waker` to stop (null: no longer):
// SIGINT, SIGTERM and SIGHUP, and a reader that has gone (SIGPIPE) shows as
// a failed write; on Windows the console's Ctrl+C (as SIGINT), Ctrl+Break,
// close, log-off and shut-down (as SIGTERM).
void stopOnSignals(Waker* waker);

struct Outcome {
    int status = EXIT_DONE;
    std::string message; // for standard error, without the program's name
    bool ok() const { return status == EXIT_DONE; }
};

// How a watch ended.
enum class FollowEnd {
    STOPPED,     // the handler asked to stop
    INTERRUPTED, // the waker was told to stop
    LOST,        // contact with the manager was lost
    TIMED_OUT,   // the deadline passed
};

class Session {
public:
    // `waker` may be null (nothing but the time then ends a wait).
    Session(kes_env* env, uint16_t port, Waker* waker);
    ~Session(); // close()
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // No wait of this session lasts past `deadline` (qelctl wait's overall
    // limit); {0, 0}: none.
    void setDeadline(const kes_time& deadline) { m_deadline = deadline; }

    // Opens the client, sends CONNECT and waits for the answer with the info,
    // then for the options, then for the state: EXIT_DONE, or
    // EXIT_UNAVAILABLE with the panel's text, or the signal's status.
    Outcome open();

    // Sends the configuration as one SET CONFIG and waits for the answer;
    // its state is answerState(). Refused (Invalid State, Invalid Data, ...):
    // EXIT_REFUSED; no answer, or one that cannot be read: EXIT_UNAVAILABLE.
    Outcome setConfig(const qel_config& config);
    // The same with CLEAR SYSTEM ERROR.
    Outcome clearSystemError();

    // Keeps the connection alive (keepalives, liveness) and hands every
    // notification of the manager client to `handler` once it has been
    // taken in, until the handler returns false, the waker stops it, contact
    // is lost (lostReason() says how) or `deadline` ({0, 0}: none) passes.
    FollowEnd follow(const std::function<bool(QelClientEvent)>& handler, const kes_time& deadline);

    // Sends DISCONNECT when connected (a request still awaiting its answer
    // is given up first). Idempotent.
    void close();

    // The records, valid after open() succeeded (info may be null when the
    // connection was lost since).
    const qel_info* info() const;
    const qel_options& options() const { return m_client->options; }
    const qel_state& state() const { return m_client->state; }
    const qel_state& answerState() const { return m_answerState; }
    bool connected() const;
    const std::string& lostReason() const { return m_lostReason; }
    qel_client* client() { return m_client; }
    // The status for an interruption by the waker's signal.
    int interruptedStatus() const;

private:
    struct Answer {
        bool arrived = false;
        uint16_t status = 0;
        kes_result decoded = KES_NODATA;
    };

    static int onProtocol(tesk2_client* protocol, const tesk2_notification* notification);
    static void onClientEvent(qel_client* client, QelClientEvent event);

    kes_result waitFor(bool (*condition)(const qel_client*),
                       kes_result (*failure)(const qel_client*));
    // Waits for the socket, the waker or the time: false when the waker
    // was told to stop.
    bool waitReadable(const kes_time& span);
    kes_result process();
    Outcome request(kes_result sent, const char* what, const char* refusal);
    Outcome interrupted() const;

    kes_env* m_env;
    uint16_t m_port;
    Waker* m_waker;
    qel_client* m_client = nullptr;
    kes_time m_deadline{0, 0};
    Answer m_answer;
    qel_state m_answerState{};
    kes_result m_infoDecoded = KES_NODATA;
    kes_result m_optionsDecoded = KES_SUCCESS; // the last options event's
    kes_result m_stateDecoded = KES_SUCCESS;   // the last state event's
    std::string m_lostReason;
    std::vector<QelClientEvent> m_events;
};

} // namespace qelctl
