// The client side of the tesk2 control protocol over one connected UDP socket:
// the connect/disconnect handshake, the one outstanding request, sequence
// numbers, validation of received datagrams, responses and events, and the
// keepalive and liveness logic. Passive: it never waits and owns no thread;
// its owner calls tesk2_client_process whenever the socket may have data or a
// keepalive deadline has come, and every notification is delivered inside
// that call or inside tesk2_client_send_request, on the caller's thread.
#pragma once

#include "kes_env.h"
#include "kes_result.h"
#include "kes_socket.h"
#include "kes_time.h"
#include "tesk2_message.h"

#include <cstdint>

// Connection states.
constexpr uint32_t TESK2_DISCONNECTED = 0;
constexpr uint32_t TESK2_CONNECTING = 1;
constexpr uint32_t TESK2_CONNECTED = 2;

// Notification flags.
constexpr uint32_t TESK2_NOTIFY_CONNECTION = 1; // the state changed or was re-announced
constexpr uint32_t TESK2_NOTIFY_LIVENESS = 2;   // the keepalive time-out ran out
constexpr uint32_t TESK2_NOTIFY_RESPONSE = 4;   // a response to the request arrived
constexpr uint32_t TESK2_NOTIFY_EVENT = 8;      // an event arrived

constexpr uint32_t TESK2_REQUEST_SLOTS = 1;

struct tesk2_client;

// A request slot. The owner builds the request in `message`; the message keeps
// the request as sent until the slot is taken again.
struct tesk2_request {
    tesk2_client* client;
    uint32_t index;
    bool in_use;
    tesk2_message message;
};

// What the owner's callback receives. `message` is the client's receive
// buffer, valid only until the callback returns.
struct tesk2_notification {
    uint32_t flags;
    tesk2_request* request;
    const tesk2_message* message;
    kes_result result;
};

// The owner's callback; its return value is not used. It may send a request
// (the slot of a completed request is already free) but must not free the
// client.
typedef int (*tesk2_callback)(tesk2_client* client, const tesk2_notification* notification);

struct tesk2_client {
    kes_env* env; // its log receives every line the client writes
    tesk2_client_id identity;
    void* context;
    tesk2_callback callback;
    uint32_t state;
    kes_socket socket; // the owner's; -1 until initialised
    uint16_t seqnum;   // the next sequence number to stamp
    tesk2_request requests[TESK2_REQUEST_SLOTS];
    uint32_t requests_in_use;
    tesk2_message receive;

    bool keepalive_enabled;
    tesk2_message keepalive;
    kes_time keepalive_interval; // send a keepalive after this long without a send
    kes_time keepalive_timeout;  // disconnect after this long without a valid message
    kes_time last_send;
    kes_time last_receive;
    kes_time next_deadline;
};

// A new client: DISCONNECTED, no socket, sequence counter 0, no callback, all
// buffers prepared. nullptr when memory is short. All memory the client ever
// uses is allocated here.
tesk2_client* tesk2_client_new(kes_env* env);

// Frees the client; a missing client is accepted. The socket is not closed.
void tesk2_client_free(tesk2_client* client);

// Takes the socket (connected to the server, non-blocking; not owned) and the
// identity (nullptr: 8 zero bytes and the socket's local port), writes the
// identity into the request slot and logs it at Debug. An invalid socket or a
// missing client: KES_INVALIDPARAMETER; a failure to read the local port is
// returned as its code.
kes_result tesk2_client_initialise(tesk2_client* client, const tesk2_client_id* identity,
                                   kes_socket socket);

void tesk2_client_set_context(tesk2_client* client, void* context);
void* tesk2_client_get_context(const tesk2_client* client);
void tesk2_client_set_callback(tesk2_client* client, tesk2_callback callback);
// The connection state (TESK2_DISCONNECTED for a missing client).
uint32_t tesk2_client_get_state(const tesk2_client* client);

// Hands out the request slot. Missing argument: KES_INVALIDPARAMETER; slot in
// use: KES_NOBUFS.
kes_result tesk2_client_request_alloc(tesk2_client* client, tesk2_request** request);

// The slot's message buffer (nullptr for a missing request).
tesk2_message* tesk2_request_message(tesk2_request* request);

// Frees the slot; a free slot stays free, so the owner may release after any
// failure without checking.
void tesk2_client_request_release(tesk2_request* request);

// Sends the slot's request: checks the opcode against the state (refused:
// slot released, KES_INVALIDSTATE), stamps the next sequence number, sends
// `length` bytes and notifies as the handshake requires. A disconnect whose
// send finds the server's port unreachable still disconnects and returns 0.
// Any other send failure is returned with state and slot unchanged.
kes_result tesk2_client_send_request(tesk2_request* request);

// Reads and handles every datagram waiting on the socket, then, when nothing
// is left and the client is CONNECTED with keepalives on, runs the keepalive
// check. Returns 0, KES_CONNRESET (the server's port is unreachable; the
// client is then DISCONNECTED), a keepalive send failure, or another receive
// failure (KES_MSGSIZE for a datagram over 1472 bytes, which is lost).
kes_result tesk2_client_process(tesk2_client* client);

// tesk2_client_process that reads at most `limit` datagrams: when it has read
// that many it returns 0 at once, leaving the rest (and the keepalive check,
// which runs only once the socket is empty) to the next call. An owner that
// shares its thread with a user interface keeps each call short this way
// while the server floods it. Limit 0: KES_INVALIDPARAMETER.
kes_result tesk2_client_process_some(tesk2_client* client, size_t limit);

// Turns keepalives on with the owner's protocol identifier, the send interval
// and the receive time-out. Protocol 0 or a missing argument:
// KES_INVALIDPARAMETER.
kes_result tesk2_client_enable_keepalive(tesk2_client* client, uint16_t protocol,
                                         const kes_time* interval, const kes_time* timeout);

// The keepalive and liveness check; run by tesk2_client_process.
kes_result tesk2_client_check_keepalives(tesk2_client* client);

// The next deadline the last check computed ({0, 0} before the first check and
// whenever keepalives are off). Missing argument: KES_INVALIDPARAMETER.
kes_result tesk2_client_next_deadline(const tesk2_client* client, kes_time* deadline);
