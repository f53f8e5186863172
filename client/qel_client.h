// The manager client: the control panel's one connection to the manager. It
// owns a protocol client on a UDP socket connected to 127.0.0.1:8899, keeps
// the latest info, options and state the manager sent, sends the requests the
// panel needs, and turns everything that arrives into notifications for its
// one owner. It never waits: the owner drives it with tesk2_client_process.
#pragma once

#include "kes_env.h"
#include "kes_result.h"
#include "kes_socket.h"
#include "qel_records.h"
#include "tesk2_client.h"

#include <cstdint>

constexpr uint16_t QEL_MANAGER_PORT = 8899;

// Validity bits of qel_client::flags.
constexpr uint32_t QEL_CLIENT_INFO_VALID = 0x1;
constexpr uint32_t QEL_CLIENT_OPTIONS_VALID = 0x2;
constexpr uint32_t QEL_CLIENT_STATE_VALID = 0x4;

// What the owner is told.
enum QelClientEvent {
    QEL_CLIENT_EVENT_REQUEST_DONE = 0, // the pending request was answered
    QEL_CLIENT_EVENT_CONNECTION = 1,   // status changed
    QEL_CLIENT_EVENT_INFO = 2,         // info set, changed or cleared
    QEL_CLIENT_EVENT_OPTIONS = 3,      // options set, changed or cleared
    QEL_CLIENT_EVENT_STATE = 4,        // state set, changed or cleared
};

struct qel_client;
typedef void (*qel_client_callback)(qel_client* client, QelClientEvent event);

// The owner reads status, flags, info, options, state, socket and protocol,
// and writes owner_context and callback; the rest is private.
struct qel_client {
    kes_env* env;
    uint16_t api_version;
    kes_socket socket;
    tesk2_client* protocol;
    void* owner_context;
    tesk2_request* pending; // the request awaiting its answer
    uint32_t status;        // TESK2_DISCONNECTED, _CONNECTING or _CONNECTED
    qel_client_callback callback;
    uint32_t flags; // QEL_CLIENT_*_VALID
    qel_info info;
    qel_options options;
    qel_state state;
};

// Creates the record, its protocol client and its socket connected to the
// manager's port on 127.0.0.1, non-blocking, with keepalives of 10 s / 31 s.
// Nothing is sent. KES_NOMEMORY, or the failing step's code, with nothing
// left allocated or open.
kes_result qel_client_new(kes_env* env, qel_client** client);

// The same with another manager port (the stand-in manager's tests and the
// benchmarks run it on a port of their own).
kes_result qel_client_new_on_port(kes_env* env, uint16_t port, qel_client** client);

// Frees the protocol client, closes the socket, frees the record; a missing
// record is accepted.
void qel_client_free(qel_client* client);

// Sends CONNECT with the API version. KES_INVALIDSTATE while a request is
// pending (or the state refuses it), KES_NOBUFS, or the send's failure.
kes_result qel_client_connect(qel_client* client);

// Sends DISCONNECT; the client is disconnected at once. KES_INVALIDSTATE when
// a request is pending or the client is disconnected.
kes_result qel_client_disconnect(qel_client* client);

// Gives up the request awaiting its answer: its slot is freed and no
// completion is raised for it; a late answer is ignored like any stray one.
// KES_INVALIDSTATE when none is pending; missing record: KES_INVALIDPARAMETER.
kes_result qel_client_abandon_request(qel_client* client);

// Validates the configuration against the stored options and sends SET
// CONFIG. In order: a pending request: KES_INVALIDSTATE; no configuration:
// KES_INVALIDPARAMETER; options not known: KES_INVALIDSTATE; not valid
// against them: KES_INVALIDDATA (nothing sent or logged).
kes_result qel_client_set_system_config(const qel_config* config, qel_client* client);

// Sends CLEAR SYSTEM ERROR.
kes_result qel_client_clear_system_error(qel_client* client);

// The protocol client's callback: turns a protocol notification into record
// updates and owner notifications.
int qel_client_on_event(tesk2_client* protocol, const tesk2_notification* notification);
