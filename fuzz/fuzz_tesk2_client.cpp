// The tesk2 protocol client driven by a script: datagrams from a loopback
// "server", jumps of a private clock, process calls and the owner's requests,
// in any order. After every process call and in every notification the
// client's record and what it reported are checked against the protocol rules;
// any violation aborts.
//
// Input:
//   byte 0        starting state: % 3 = 0 DISCONNECTED, 1 CONNECTING (a connect
//                 was sent), 2 CONNECTED (a connect and its Response)
//   then steps (at most 64), each an operation byte, op % 10:
//     0  raw datagram: 2 bytes size (% 1601), then that many bytes
//     1  shaped datagram (below)
//     2  clock jump (below)
//     3  tesk2_client_process
//     4  request: 1 byte kind (% 4: 0x0110, disconnect, connect, keepalive
//        opcode; kind / 4 % 32 body bytes), alloc + send
//     5  release the request slot
//     6  shaped datagram, then process
//     7  clock jump, then process
//     8  the server goes away: the client's socket is connected to a port
//        just closed, so its sends draw port-unreachable errors
//     9  the server comes back: the socket is connected to it again
//   Shaped datagram: status byte (>= 0xf0: 2 more bytes raw status, else one
//   of the nine known statuses), seqnum byte (% 4: the slot's, the
//   keepalive's, the next to be stamped, 2 more bytes raw), opcode byte (% 6:
//   the slot's, 0, 1, 2, 0x0110, 2 more bytes raw), length byte (even: the
//   true length, odd: off by (byte >> 1) - 64, never 0), 2 bytes body size
//   (% 1581), then the body.
//   Clock jump: mode byte, % 4: 0 milliseconds (2 bytes % 40001), 1 seconds
//   (1 byte % 41), 2 microseconds (2 bytes), 3 to the receive deadline
//   (last receive + time-out) plus one of -1, 0, +1 microseconds (chosen by
//   the mode byte), when that lies ahead.
// Missing bytes read as zero.
#include "kes_env.h"
#include "kes_log.h"
#include "kes_socket.h"
#include "kes_time.h"
#include "tesk2_client.h"
#include "tesk2_message.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace {

constexpr uint16_t k_protocol = 0x1001;
constexpr uint16_t k_opcode_ordinary = 0x0110;
constexpr size_t k_max_steps = 64;
constexpr size_t k_max_datagram = 1600;
constexpr int64_t k_clock_start = 1700000000;

struct Script {
    const uint8_t* data;
    size_t size;
    size_t at;

    bool done() const { return at >= size; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() {
        uint16_t high = byte();
        return static_cast<uint16_t>((high << 8) | byte());
    }
};

struct Server {
    kes_socket socket = KES_INVALID_SOCKET;
    kes_address address{};
    kes_env* env = nullptr;
};

// Everything one input works on; the callback reaches it through the client's
// context.
struct Run {
    tesk2_client* client = nullptr;
    kes_socket socket = KES_INVALID_SOCKET;
    kes_address address{};
    uint16_t port = 0;
    std::deque<std::vector<uint8_t>> pending; // sent to the client, not yet known to be read
    bool haveSeqnum = false;
    uint16_t expectedSeqnum = 0; // of the client's next datagram seen by the server
    bool livenessLost = false;   // a liveness notification came in this process call
    bool resetSeen = false;      // a CONNRESET notification came in this process call
    bool serverGone = false;     // the server has gone away at least once (errors may linger)
    uint32_t knownState = TESK2_DISCONNECTED; // as last announced: every change is notified
    bool atServer = true;                     // the client's socket is connected to the server
    bool disconnectRefused = false; // a disconnect's send was refused (notified without request)
    // When the client must have seen its last sign of life, worked out from
    // the datagrams it read; unknown (not checked) after a CONNRESET until the
    // next drain.
    kes_time expectedReceive{0, 0};
    bool receiveKnown = true;
};

// At most this many datagrams wait for the client, well within the socket's
// receive buffer, so none is lost on the way.
constexpr size_t k_max_pending = 32;

kes_time g_now{k_clock_start, 0};

kes_result fuzzNow(void*, kes_time* t) {
    *t = g_now;
    return KES_SUCCESS;
}

const kes_clock g_clock{fuzzNow, nullptr, nullptr};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every line the client logs: complete, one line feed at the end. With
// QEL_FUZZ_LOG set in the environment the lines also go to standard error, to
// follow what an input does.
void logSink(void* echo, const char* line, size_t length) {
    check(line != nullptr && length > 0 && line[length - 1] == '\n');
    check(std::memchr(line, '\n', length) == line + length - 1);
    if (echo != nullptr) {
        std::fwrite(line, 1, length, stderr);
    }
}

Server* server() {
    static Server* instance = [] {
        auto* s = new Server;
        check(kes_env_acquire(&s->env) == KES_SUCCESS);
        // Everything goes to the standard error destination, and from there to
        // the sink; standard output stays at threshold None.
        kes_log_sink quiet{logSink, nullptr};
        kes_log_sink sink{logSink, std::getenv("QEL_FUZZ_LOG") != nullptr ? s : nullptr};
        kes_log_set_sink(s->env->log, KES_LOG_STDOUT, &quiet);
        kes_log_set_sink(s->env->log, KES_LOG_STDERR, &sink);
        kes_log_set_timestamp(s->env->log, KES_LOG_STDERR, false);
        kes_log_set_threshold(s->env->log, KES_LOG_STDERR, KES_LOG_VERBOSE);
        kes_address bindTo{};
        check(kes_address_set_ipv4(&bindTo, KES_FAMILY_IPV4, "127.0.0.1", 0) == KES_SUCCESS);
        check(kes_socket_open_udp(&s->socket, KES_FAMILY_IPV4) == KES_SUCCESS);
        check(kes_socket_bind(s->socket, &bindTo) == KES_SUCCESS);
        check(kes_socket_set_blocking(s->socket, 0) == KES_SUCCESS);
        check(kes_socket_local_address(s->socket, &s->address) == KES_SUCCESS);
        return s;
    }();
    return instance;
}

uint16_t field(const uint8_t* data, size_t offset) {
    return static_cast<uint16_t>((data[offset] << 8) | data[offset + 1]);
}

void putField(uint8_t* data, size_t offset, uint16_t value) {
    data[offset] = static_cast<uint8_t>(value >> 8);
    data[offset + 1] = static_cast<uint8_t>(value);
}

void checkRecord(const tesk2_client* client) {
    check(client->state <= TESK2_CONNECTED);
    check(client->requests_in_use <= 1);
    check(client->requests_in_use == (client->requests[0].in_use ? 1u : 0u));
}

// Reads all the client has sent and checks each datagram: a whole request
// with the client's identity and seqnums in counter order.
void drainServer(Run& run) {
    Server* s = server();
    for (;;) {
        uint8_t buffer[2048];
        size_t size = sizeof buffer;
        kes_address from{};
        kes_result result = kes_socket_recv_from(s->socket, buffer, &size, &from);
        if (result != KES_SUCCESS) {
            check(result == KES_TIMEDOUT);
            return;
        }
        if (kes_address_port(&from) != run.port) {
            continue; // a client of an earlier input
        }
        check(size >= TESK2_HEADER_SIZE && size <= TESK2_DATAGRAM_MAX);
        check(field(buffer, TESK2_OFFSET_LENGTH) == size);
        check(field(buffer, TESK2_OFFSET_STATUS) == TESK2_STATUS_REQUEST);
        check(field(buffer, TESK2_OFFSET_PROTOCOL) == k_protocol);
        check(field(buffer, TESK2_OFFSET_CLIENT_PORT) == run.port);
        uint16_t seqnum = field(buffer, TESK2_OFFSET_SEQNUM);
        check(!run.haveSeqnum || seqnum == run.expectedSeqnum);
        run.haveSeqnum = true;
        run.expectedSeqnum = static_cast<uint16_t>(seqnum + 1);
    }
}

// The client has read `datagram`: a whole message counts as a sign of life
// unless it says "Not connected".
void consume(Run& run, const std::vector<uint8_t>& datagram) {
    size_t size = datagram.size();
    if (size < TESK2_HEADER_SIZE || size > TESK2_DATAGRAM_MAX ||
        field(datagram.data(), TESK2_OFFSET_LENGTH) != size ||
        field(datagram.data(), TESK2_OFFSET_STATUS) == TESK2_STATUS_NOT_CONNECTED) {
        return;
    }
    run.expectedReceive = g_now;
}

// A notification's message is the receive buffer holding one of the
// datagrams sent since the socket was last drained, whole; the ones before it
// were read and dropped.
void matchReceived(Run& run, const tesk2_message* message) {
    check(message == &run.client->receive);
    uint16_t length = tesk2_message_length(message);
    check(length >= TESK2_HEADER_SIZE && length <= TESK2_DATAGRAM_MAX);
    while (!run.pending.empty()) {
        std::vector<uint8_t> front = std::move(run.pending.front());
        run.pending.pop_front();
        consume(run, front);
        if (front.size() == length &&
            std::memcmp(front.data(), tesk2_message_data(message), length) == 0) {
            return;
        }
    }
    check(false);
}

int onNotify(tesk2_client* client, const tesk2_notification* n) {
    Run& run = *static_cast<Run*>(tesk2_client_get_context(client));
    check(client == run.client);
    checkRecord(client);
    uint32_t state = tesk2_client_get_state(client);
    const tesk2_message* message = n->message;
    switch (n->flags) {
    case TESK2_NOTIFY_CONNECTION:
        check(message == nullptr);
        check(state == TESK2_CONNECTING || state == TESK2_DISCONNECTED);
        check(n->result == KES_SUCCESS || (n->result == KES_CONNRESET && run.serverGone));
        if (state == TESK2_CONNECTING) {
            check(n->request != nullptr && n->request->in_use);
        }
        if (n->result == KES_CONNRESET) {
            check(n->request == nullptr && state == TESK2_DISCONNECTED);
            run.resetSeen = true;
        } else if (n->request == nullptr) {
            check(state == TESK2_DISCONNECTED && run.knownState != TESK2_DISCONNECTED);
            run.disconnectRefused = true;
        } else if (state == TESK2_CONNECTING) {
            check(run.knownState == TESK2_DISCONNECTED); // a connect went out
        } else {
            check(run.knownState != TESK2_DISCONNECTED); // a disconnect went out
        }
        break;
    case TESK2_NOTIFY_CONNECTION | TESK2_NOTIFY_LIVENESS:
        check(state == TESK2_DISCONNECTED);
        check(n->request == nullptr && message == nullptr && n->result == KES_TIMEDOUT);
        check(run.knownState == TESK2_CONNECTED);
        {
            // Only a receive deadline already passed ends the connection.
            kes_time receiveDeadline = client->last_receive;
            kes_time_add(&receiveDeadline, &client->keepalive_timeout);
            kes_time_normalise(&receiveDeadline);
            check(kes_time_compare(&receiveDeadline, &g_now) < 0);
        }
        run.livenessLost = true;
        break;
    case TESK2_NOTIFY_CONNECTION | TESK2_NOTIFY_RESPONSE:
        check(message != nullptr && n->request != nullptr && !n->request->in_use);
        check(tesk2_message_opcode(message) == TESK2_OPCODE_CONNECT);
        check(tesk2_message_status(message) != TESK2_STATUS_EVENT);
        check(run.knownState == TESK2_CONNECTING);
        check(tesk2_message_seqnum(message) == tesk2_message_seqnum(&n->request->message));
        check(state == (tesk2_message_status(message) == TESK2_STATUS_RESPONSE
                            ? TESK2_CONNECTED
                            : TESK2_DISCONNECTED));
        matchReceived(run, message);
        break;
    case TESK2_NOTIFY_RESPONSE:
        check(message != nullptr && n->request != nullptr && !n->request->in_use);
        check(tesk2_message_status(message) != TESK2_STATUS_EVENT);
        check(tesk2_message_seqnum(message) == tesk2_message_seqnum(&n->request->message));
        check(tesk2_message_opcode(message) == TESK2_OPCODE_CONNECT || state == TESK2_CONNECTED);
        check(state == run.knownState && state != TESK2_CONNECTING);
        matchReceived(run, message);
        break;
    case TESK2_NOTIFY_EVENT:
        check(message != nullptr && n->request == nullptr);
        check(tesk2_message_status(message) == TESK2_STATUS_EVENT);
        check(state == TESK2_CONNECTED && run.knownState == TESK2_CONNECTED);
        matchReceived(run, message);
        break;
    default:
        check(false);
    }
    run.knownState = state;
    return 0;
}

// Sends from the server; a datagram is expected to arrive only while the
// client's socket is connected to the server.
void sendToClient(Run& run, std::vector<uint8_t> datagram) {
    if (run.pending.size() >= k_max_pending) {
        return;
    }
    size_t size = datagram.size();
    if (kes_socket_send_to(server()->socket, datagram.data(), &size, &run.address) == KES_SUCCESS &&
        run.atServer) {
        run.pending.push_back(std::move(datagram));
    }
}

void rawDatagram(Run& run, Script& script) {
    size_t size = script.word() % (k_max_datagram + 1);
    std::vector<uint8_t> datagram(size);
    for (uint8_t& b : datagram) {
        b = script.byte();
    }
    sendToClient(run, std::move(datagram));
}

void shapedDatagram(Run& run, Script& script) {
    static const uint16_t statuses[] = {TESK2_STATUS_RESPONSE,
                                        TESK2_STATUS_EVENT,
                                        TESK2_STATUS_REQUEST,
                                        TESK2_STATUS_OPCODE_ERROR,
                                        TESK2_STATUS_UNRECOGNISED_OPCODE,
                                        TESK2_STATUS_UNSUPPORTED_OPCODE,
                                        TESK2_STATUS_SERVER_ERROR,
                                        TESK2_STATUS_NOT_CONNECTED,
                                        TESK2_STATUS_TOO_MANY_CLIENTS};
    const tesk2_client* client = run.client;
    uint8_t statusByte = script.byte();
    uint16_t status = statusByte >= 0xf0 ? script.word() : statuses[statusByte % 9];

    uint16_t seqnum = 0;
    switch (script.byte() % 4) {
    case 0:
        seqnum = tesk2_message_seqnum(&client->requests[0].message);
        break;
    case 1:
        seqnum = tesk2_message_seqnum(&client->keepalive);
        break;
    case 2:
        seqnum = client->seqnum;
        break;
    default:
        seqnum = script.word();
        break;
    }

    static const uint16_t opcodes[] = {TESK2_OPCODE_KEEPALIVE, TESK2_OPCODE_CONNECT,
                                       TESK2_OPCODE_DISCONNECT, k_opcode_ordinary};
    uint8_t opcodeByte = script.byte() % 6;
    uint16_t opcode = 0;
    if (opcodeByte == 0) {
        opcode = tesk2_message_opcode(&client->requests[0].message);
    } else if (opcodeByte == 5) {
        opcode = script.word();
    } else {
        opcode = opcodes[opcodeByte - 1];
    }

    uint8_t lengthByte = script.byte();
    size_t body = script.word() % (k_max_datagram - TESK2_HEADER_SIZE + 1);
    std::vector<uint8_t> datagram(TESK2_HEADER_SIZE + body);
    uint16_t length = static_cast<uint16_t>(datagram.size());
    if ((lengthByte & 1) != 0) {
        int delta = (lengthByte >> 1) - 64;
        length = static_cast<uint16_t>(length + (delta != 0 ? delta : 1));
    }
    putField(datagram.data(), TESK2_OFFSET_PROTOCOL, k_protocol);
    putField(datagram.data(), TESK2_OFFSET_LENGTH, length);
    putField(datagram.data(), TESK2_OFFSET_SEQNUM, seqnum);
    putField(datagram.data(), TESK2_OFFSET_OPCODE, opcode);
    putField(datagram.data(), TESK2_OFFSET_STATUS, status);
    putField(datagram.data(), TESK2_OFFSET_CLIENT_PORT, run.port);
    for (size_t i = TESK2_HEADER_SIZE; i < datagram.size(); ++i) {
        datagram[i] = script.byte();
    }
    sendToClient(run, std::move(datagram));
}

void advanceClock(Run& run, Script& script) {
    uint8_t mode = script.byte();
    kes_time span{0, 0};
    switch (mode % 4) {
    case 0:
        span.microseconds = static_cast<int32_t>(script.word() % 40001) * 1000;
        break;
    case 1:
        span.seconds = script.byte() % 41;
        break;
    case 2:
        span.microseconds = script.word();
        break;
    default: {
        kes_time target = run.client->last_receive;
        kes_time_add(&target, &run.client->keepalive_timeout);
        kes_time_normalise(&target);
        int32_t nudge = static_cast<int32_t>((mode >> 2) % 3) - 1;
        kes_time extra{0, nudge >= 0 ? nudge : 0};
        kes_time less{0, nudge < 0 ? 1 : 0};
        kes_time_add(&target, &extra);
        kes_time_subtract(&target, &less);
        kes_time_normalise(&target);
        if (kes_time_compare(&target, &g_now) > 0) {
            g_now = target;
        }
        return;
    }
    }
    kes_time_add(&g_now, &span);
    kes_time_normalise(&g_now);
}

void process(Run& run) {
    tesk2_client* client = run.client;
    run.livenessLost = false;
    run.resetSeen = false;
    kes_time oldDeadline{};
    check(tesk2_client_next_deadline(client, &oldDeadline) == KES_SUCCESS);
    kes_time oldSend = client->last_send;
    kes_time oldSendDeadline = client->last_send;
    kes_time_add(&oldSendDeadline, &client->keepalive_interval);
    kes_time_normalise(&oldSendDeadline);

    kes_result result = tesk2_client_process(client);
    checkRecord(client);
    check(client->state == run.knownState);
    kes_time deadline{};
    check(tesk2_client_next_deadline(client, &deadline) == KES_SUCCESS);
    if (result != KES_SUCCESS || client->state != TESK2_CONNECTED) {
        // No check ran to its end: the deadline stays.
        check(kes_time_compare(&deadline, &oldDeadline) == 0);
    }
    check(!run.livenessLost || client->state == TESK2_DISCONNECTED);
    check(run.resetSeen == (result == KES_CONNRESET));
    if (result == KES_CONNRESET) {
        check(client->state == TESK2_DISCONNECTED);
    }
    if (result == KES_CONNREFUSED) {
        // A keepalive could not be sent; the state stays.
        check(run.serverGone && client->state == TESK2_CONNECTED);
    }
    check(result == KES_SUCCESS || result == KES_MSGSIZE ||
          (run.serverGone && (result == KES_CONNRESET || result == KES_CONNREFUSED)));
    // Only a keepalive moves the last-send time here, and only a CONNECTED
    // client sends one (a connect response may have made it so just now).
    check(kes_time_compare(&client->last_send, &oldSend) == 0 ||
          (kes_time_compare(&client->last_send, &g_now) == 0 && client->state == TESK2_CONNECTED));

    if (result == KES_MSGSIZE) {
        // Everything up to the oversize datagram was read, that one is lost.
        while (!run.pending.empty()) {
            std::vector<uint8_t> front = std::move(run.pending.front());
            run.pending.pop_front();
            consume(run, front);
            if (front.size() > TESK2_DATAGRAM_MAX) {
                break;
            }
        }
    } else if (result == KES_CONNRESET) {
        // Which datagrams were read before the error is not known.
        run.receiveKnown = false;
    } else {
        // The socket was drained, so nothing sent before is still to come.
        for (const std::vector<uint8_t>& datagram : run.pending) {
            consume(run, datagram);
        }
        run.pending.clear();
        if (!run.receiveKnown) {
            run.expectedReceive = client->last_receive;
            run.receiveKnown = true;
        }
    }
    if (run.receiveKnown) {
        check(kes_time_compare(&client->last_receive, &run.expectedReceive) == 0);
    }
    if (result != KES_SUCCESS) {
        return;
    }
    if (client->state == TESK2_CONNECTED) {
        // The check has just run: the server is not overdue, and a keepalive
        // went out if one was due.
        kes_time receiveDeadline = client->last_receive;
        kes_time_add(&receiveDeadline, &client->keepalive_timeout);
        kes_time_normalise(&receiveDeadline);
        check(kes_time_compare(&receiveDeadline, &g_now) >= 0);
        kes_time sendDeadline = client->last_send;
        kes_time_add(&sendDeadline, &client->keepalive_interval);
        kes_time_normalise(&sendDeadline);
        check(kes_time_compare(&sendDeadline, &g_now) >= 0);
        // The next deadline is the earlier of the receive deadline and the
        // send deadline as it stood before any keepalive went out.
        const kes_time& earlier = kes_time_compare(&receiveDeadline, &oldSendDeadline) < 0
                                      ? receiveDeadline
                                      : oldSendDeadline;
        check(kes_time_compare(&deadline, &earlier) == 0);
    }
}

bool allowed(uint32_t state, uint16_t opcode) {
    switch (state) {
    case TESK2_DISCONNECTED:
        return opcode == TESK2_OPCODE_CONNECT;
    case TESK2_CONNECTING:
        return opcode == TESK2_OPCODE_DISCONNECT;
    default:
        return opcode != TESK2_OPCODE_CONNECT;
    }
}

// Allocates the slot, builds a request with `opcode` and `body` bytes, sends
// it and releases the slot after a failure, as an owner does. Returns the
// send's result (KES_NOBUFS when the slot was taken).
kes_result sendRequest(Run& run, uint16_t opcode, size_t body) {
    tesk2_client* client = run.client;
    tesk2_request* request = nullptr;
    kes_result result = tesk2_client_request_alloc(client, &request);
    if (result != KES_SUCCESS) {
        check(result == KES_NOBUFS && client->requests_in_use == 1);
        return result;
    }
    tesk2_message* message = tesk2_request_message(request);
    tesk2_message_set_header(message, k_protocol, opcode);
    for (size_t i = 0; i < body; ++i) {
        uint8_t b = static_cast<uint8_t>(i);
        check(tesk2_message_append(message, &b, 1) == KES_SUCCESS);
    }
    uint32_t before = client->state;
    kes_time oldSend = client->last_send;
    run.disconnectRefused = false;
    result = tesk2_client_send_request(request);
    checkRecord(client);
    check(client->state == run.knownState);
    // A request that went out is the last send; nothing else moves it.
    bool went = result == KES_SUCCESS && !run.disconnectRefused;
    check(kes_time_compare(&client->last_send, went ? &g_now : &oldSend) == 0);
    if (!allowed(before, opcode)) {
        check(result == KES_INVALIDSTATE && !request->in_use && client->state == before);
        return result;
    }
    if (result != KES_SUCCESS) {
        // Only a vanished server makes a send fail; a disconnect happens all
        // the same, anything else leaves state and slot for the owner.
        check(run.serverGone && (result == KES_CONNREFUSED || result == KES_CONNRESET));
        check(opcode != TESK2_OPCODE_DISCONNECT);
        check(client->state == before && request->in_use);
        tesk2_client_request_release(request);
        checkRecord(client);
        return result;
    }
    if (opcode == TESK2_OPCODE_CONNECT) {
        check(client->state == TESK2_CONNECTING && request->in_use);
    } else if (opcode == TESK2_OPCODE_DISCONNECT) {
        check(client->state == TESK2_DISCONNECTED && !request->in_use);
    } else {
        check(client->state == before && request->in_use);
    }
    return result;
}

// Connects the client's socket to a port that was open a moment ago.
void serverGoes(Run& run) {
    kes_socket gone = KES_INVALID_SOCKET;
    kes_address bindTo{};
    kes_address address{};
    check(kes_address_set_ipv4(&bindTo, KES_FAMILY_IPV4, "127.0.0.1", 0) == KES_SUCCESS);
    check(kes_socket_open_udp(&gone, KES_FAMILY_IPV4) == KES_SUCCESS);
    check(kes_socket_bind(gone, &bindTo) == KES_SUCCESS);
    check(kes_socket_local_address(gone, &address) == KES_SUCCESS);
    check(kes_socket_close(&gone) == KES_SUCCESS);
    check(kes_socket_connect(run.socket, &address) == KES_SUCCESS);
    run.serverGone = true;
    run.atServer = false;
    run.haveSeqnum = false;
}

void serverReturns(Run& run) {
    check(kes_socket_connect(run.socket, &server()->address) == KES_SUCCESS);
    run.atServer = true;
    run.haveSeqnum = false;
}

void start(Run& run, uint8_t mode) {
    if (mode % 3 == 0) {
        return;
    }
    check(sendRequest(run, TESK2_OPCODE_CONNECT, 0) == KES_SUCCESS);
    drainServer(run);
    if (mode % 3 == 1) {
        return;
    }
    std::vector<uint8_t> response(TESK2_HEADER_SIZE);
    putField(response.data(), TESK2_OFFSET_PROTOCOL, k_protocol);
    putField(response.data(), TESK2_OFFSET_LENGTH, TESK2_HEADER_SIZE);
    putField(response.data(), TESK2_OFFSET_SEQNUM,
             tesk2_message_seqnum(&run.client->requests[0].message));
    putField(response.data(), TESK2_OFFSET_OPCODE, TESK2_OPCODE_CONNECT);
    putField(response.data(), TESK2_OFFSET_STATUS, TESK2_STATUS_RESPONSE);
    putField(response.data(), TESK2_OFFSET_CLIENT_PORT, run.port);
    sendToClient(run, std::move(response));
    process(run);
    check(run.client->state == TESK2_CONNECTED && run.client->requests_in_use == 0);
}

void step(Run& run, Script& script) {
    uint8_t op = script.byte();
    switch (op % 10) {
    case 0:
        rawDatagram(run, script);
        break;
    case 1:
        shapedDatagram(run, script);
        break;
    case 2:
        advanceClock(run, script);
        break;
    case 3:
        process(run);
        break;
    case 4: {
        static const uint16_t kinds[] = {k_opcode_ordinary, TESK2_OPCODE_DISCONNECT,
                                         TESK2_OPCODE_CONNECT, TESK2_OPCODE_KEEPALIVE};
        uint8_t kind = script.byte();
        sendRequest(run, kinds[kind % 4], (kind >> 2) % 32);
        break;
    }
    case 5:
        tesk2_client_request_release(&run.client->requests[0]);
        checkRecord(run.client);
        break;
    case 6:
        shapedDatagram(run, script);
        process(run);
        break;
    case 7:
        advanceClock(run, script);
        process(run);
        break;
    case 8:
        serverGoes(run);
        break;
    default:
        serverReturns(run);
        break;
    }
    drainServer(run);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Server* s = server();
    Script script{data, size, 0};
    g_now = kes_time{k_clock_start, 0};
    kes_clock_install(&g_clock);

    Run run;
    check(kes_socket_open_udp(&run.socket, KES_FAMILY_IPV4) == KES_SUCCESS);
    check(kes_socket_connect(run.socket, &s->address) == KES_SUCCESS);
    check(kes_socket_set_blocking(run.socket, 0) == KES_SUCCESS);
    check(kes_socket_local_address(run.socket, &run.address) == KES_SUCCESS);
    run.port = kes_address_port(&run.address);
    drainServer(run); // leftovers of earlier inputs

    run.client = tesk2_client_new(s->env);
    check(run.client != nullptr);
    check(tesk2_client_initialise(run.client, nullptr, run.socket) == KES_SUCCESS);
    const kes_time interval{10, 0};
    const kes_time timeout{31, 0};
    check(tesk2_client_enable_keepalive(run.client, k_protocol, &interval, &timeout) ==
          KES_SUCCESS);
    tesk2_client_set_context(run.client, &run);
    tesk2_client_set_callback(run.client, onNotify);

    start(run, script.byte());
    for (size_t i = 0; i < k_max_steps && !script.done(); ++i) {
        step(run, script);
    }

    tesk2_client_free(run.client);
    kes_socket_close(&run.socket);
    kes_clock_install(nullptr);
    return 0;
}
