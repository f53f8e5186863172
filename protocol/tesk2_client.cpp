// The tesk2 protocol client. Every datagram is read into one receive buffer,
// checked for size, counted as a sign of life, then dispatched as an event, a
// response to the outstanding request, a keepalive answer or a stray.
#include "tesk2_client.h"

#include "kes_log.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

const char k_process[] = "tesk2_client_process";
const char k_check[] = "tesk2_client_check_keepalives";

kes_log* logOf(const tesk2_client* client) {
    return client->env != nullptr ? client->env->log : nullptr;
}

void notify(tesk2_client* client, uint32_t flags, tesk2_request* request,
            const tesk2_message* message, kes_result result) {
    if (client->callback == nullptr) {
        return;
    }
    tesk2_notification notification{flags, request, message, result};
    client->callback(client, &notification);
}

void release(tesk2_request* request) {
    if (request->in_use) {
        request->in_use = false;
        --request->client->requests_in_use;
    }
}

void now(kes_time* t) {
    if (kes_time_now(t) != KES_SUCCESS) {
        *t = kes_time{0, 0};
    }
}

// Stamps the next sequence number into `message` and sends it whole.
// A message whose length field lies outside the datagram is refused before
// it takes a sequence number: sending it would read past the message.
kes_result stampAndSend(tesk2_client* client, tesk2_message* message) {
    size_t size = 0;
    const kes_result checked = tesk2_message_send_size(message, &size);
    if (checked != KES_SUCCESS) {
        kes_log_printf(logOf(client), KES_LOG_ERROR, "%s: message length %u refused\n",
                       "tesk2_client_send", static_cast<unsigned>(tesk2_message_length(message)));
        return checked;
    }
    tesk2_message_set_seqnum(message, client->seqnum);
    ++client->seqnum; // 16-bit: 65535 is followed by 0
    return kes_socket_send(client->socket, tesk2_message_data(message), &size);
}

bool allowed(uint32_t state, uint16_t opcode) {
    switch (state) {
    case TESK2_DISCONNECTED:
        return opcode == TESK2_OPCODE_CONNECT;
    case TESK2_CONNECTING:
        return opcode == TESK2_OPCODE_DISCONNECT;
    case TESK2_CONNECTED:
        return opcode != TESK2_OPCODE_CONNECT;
    default:
        return false;
    }
}

// A response M to the request R: decides the flags and the new state,
// releases R and notifies once; M is dropped (R stays outstanding) when it
// answers an ordinary request while the client is not CONNECTED.
void handleResponse(tesk2_client* client, tesk2_request* request) {
    const tesk2_message* message = &client->receive;
    uint32_t flags = TESK2_NOTIFY_RESPONSE;
    if (tesk2_message_opcode(message) == TESK2_OPCODE_CONNECT) {
        if (client->state == TESK2_CONNECTING) {
            client->state = tesk2_message_status(message) == TESK2_STATUS_RESPONSE
                                ? TESK2_CONNECTED
                                : TESK2_DISCONNECTED;
            flags |= TESK2_NOTIFY_CONNECTION;
        }
    } else if (client->state != TESK2_CONNECTED) {
        return; // dropped; the request stays outstanding
    }
    release(request);
    notify(client, flags, request, message, KES_SUCCESS);
}

tesk2_request* findRequest(tesk2_client* client, uint16_t seqnum) {
    for (tesk2_request& request : client->requests) {
        if (request.in_use && tesk2_message_seqnum(&request.message) == seqnum) {
            return &request;
        }
    }
    return nullptr;
}

} // namespace

tesk2_client* tesk2_client_new(kes_env* env) {
    auto* client = static_cast<tesk2_client*>(std::calloc(1, sizeof(tesk2_client)));
    if (client == nullptr) {
        return nullptr;
    }
    client->env = env;
    client->state = TESK2_DISCONNECTED;
    client->socket = KES_INVALID_SOCKET;
    for (uint32_t i = 0; i < TESK2_REQUEST_SLOTS; ++i) {
        client->requests[i].client = client;
        client->requests[i].index = i;
        tesk2_message_init(&client->requests[i].message);
    }
    tesk2_message_init(&client->receive);
    tesk2_message_init(&client->keepalive);
    return client;
}

void tesk2_client_free(tesk2_client* client) {
    std::free(client);
}

kes_result tesk2_client_initialise(tesk2_client* client, const tesk2_client_id* identity,
                                   kes_socket socket) {
    if (client == nullptr || socket == KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_client_id id{};
    if (identity != nullptr) {
        id = *identity;
    } else {
        kes_address local{};
        kes_result result = kes_socket_local_address(socket, &local);
        if (result != KES_SUCCESS) {
            return result;
        }
        id.port = kes_address_port(&local);
    }
    client->identity = id;
    client->socket = socket;
    for (tesk2_request& request : client->requests) {
        tesk2_message_init(&request.message);
        tesk2_message_set_client_id(&request.message, &client->identity);
    }
    char text[TESK2_CLIENT_ID_TEXT_SIZE];
    kes_log_printf(logOf(client), KES_LOG_DEBUG, "%s: Client id is now %s\n",
                   "tesk2_client_initialise", tesk2_client_id_to_text(&client->identity, text));
    return KES_SUCCESS;
}

void tesk2_client_set_context(tesk2_client* client, void* context) {
    if (client != nullptr) {
        client->context = context;
    }
}

void* tesk2_client_get_context(const tesk2_client* client) {
    return client != nullptr ? client->context : nullptr;
}

void tesk2_client_set_callback(tesk2_client* client, tesk2_callback callback) {
    if (client != nullptr) {
        client->callback = callback;
    }
}

uint32_t tesk2_client_get_state(const tesk2_client* client) {
    return client != nullptr ? client->state : TESK2_DISCONNECTED;
}

kes_result tesk2_client_request_alloc(tesk2_client* client, tesk2_request** request) {
    if (client == nullptr || request == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    for (tesk2_request& slot : client->requests) {
        if (!slot.in_use) {
            slot.in_use = true;
            ++client->requests_in_use;
            *request = &slot;
            return KES_SUCCESS;
        }
    }
    return KES_NOBUFS;
}

tesk2_message* tesk2_request_message(tesk2_request* request) {
    return request != nullptr ? &request->message : nullptr;
}

void tesk2_client_request_release(tesk2_request* request) {
    if (request != nullptr) {
        release(request);
    }
}

kes_result tesk2_client_send_request(tesk2_request* request) {
    if (request == nullptr || request->client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_client* client = request->client;
    uint16_t opcode = tesk2_message_opcode(&request->message);
    if (!request->in_use || !allowed(client->state, opcode)) {
        release(request);
        return KES_INVALIDSTATE;
    }
    kes_result result = stampAndSend(client, &request->message);
    if (result != KES_SUCCESS) {
        if (opcode == TESK2_OPCODE_DISCONNECT &&
            (result == KES_CONNREFUSED || result == KES_CONNRESET)) {
            // The server is gone: the disconnect has happened all the same.
            client->state = TESK2_DISCONNECTED;
            release(request);
            notify(client, TESK2_NOTIFY_CONNECTION, nullptr, nullptr, KES_SUCCESS);
            return KES_SUCCESS;
        }
        return result;
    }
    if (opcode == TESK2_OPCODE_CONNECT) {
        client->state = TESK2_CONNECTING;
        notify(client, TESK2_NOTIFY_CONNECTION, request, nullptr, KES_SUCCESS);
    } else if (opcode == TESK2_OPCODE_DISCONNECT) {
        release(request);
        client->state = TESK2_DISCONNECTED;
        notify(client, TESK2_NOTIFY_CONNECTION, request, nullptr, KES_SUCCESS);
    }
    if (client->keepalive_enabled) {
        now(&client->last_send);
    }
    return KES_SUCCESS;
}

kes_result tesk2_client_process(tesk2_client* client) {
    return tesk2_client_process_some(client, SIZE_MAX);
}

kes_result tesk2_client_process_some(tesk2_client* client, size_t limit) {
    if (client == nullptr || client->socket == KES_INVALID_SOCKET || limit == 0) {
        return KES_INVALIDPARAMETER;
    }
    kes_log* log = logOf(client);
    kes_log_printf(log, KES_LOG_VERBOSE, "%s: starting\n", k_process);
    for (size_t read = 0;; ++read) {
        if (read == limit) {
            // More may be waiting: the owner is called again for it.
            return KES_SUCCESS;
        }
        size_t size = TESK2_DATAGRAM_MAX;
        kes_result result =
            kes_socket_recv(client->socket, tesk2_message_data(&client->receive), &size);
        if (result == KES_TIMEDOUT) {
            kes_log_printf(log, KES_LOG_VERBOSE, "%s: timed out\n", k_process);
            if (client->keepalive_enabled && client->state == TESK2_CONNECTED) {
                return tesk2_client_check_keepalives(client);
            }
            return KES_SUCCESS;
        }
        if (result == KES_CONNRESET) {
            kes_log_printf(log, KES_LOG_ERROR, "%s: error recving (CONNRESET): disconnecting\n",
                           k_process);
            client->state = TESK2_DISCONNECTED;
            notify(client, TESK2_NOTIFY_CONNECTION, nullptr, nullptr, KES_CONNRESET);
            return KES_CONNRESET;
        }
        if (result != KES_SUCCESS) {
            char text[KES_RESULT_DESCRIBE_SIZE];
            kes_log_printf(log, KES_LOG_ERROR, "%s: error recving: %s\n", k_process,
                           kes_result_describe(result, text));
            return result;
        }
        kes_log_printf(log, KES_LOG_VERBOSE, "%s: read a message (size=%u source=%s\n", k_process,
                       static_cast<unsigned>(size), "");
        if (size < TESK2_HEADER_SIZE) {
            kes_log_printf(log, KES_LOG_WARNING, "%s: message too small (%u < %u)\n", k_process,
                           static_cast<unsigned>(size), static_cast<unsigned>(TESK2_HEADER_SIZE));
            continue;
        }
        const tesk2_message* message = &client->receive;
        uint16_t length = tesk2_message_length(message);
        if (length != size) {
            kes_log_printf(log, KES_LOG_WARNING,
                           "%s: invalid size in message (msg=%u, recved=%u)\n", k_process,
                           static_cast<unsigned>(length), static_cast<unsigned>(size));
            continue;
        }
        uint16_t status = tesk2_message_status(message);
        if (client->keepalive_enabled && status != TESK2_STATUS_NOT_CONNECTED) {
            now(&client->last_receive);
        }
        if (status == TESK2_STATUS_EVENT) {
            if (client->state == TESK2_CONNECTED) {
                notify(client, TESK2_NOTIFY_EVENT, nullptr, message, KES_SUCCESS);
            }
            continue;
        }
        uint16_t seqnum = tesk2_message_seqnum(message);
        if (tesk2_request* request = findRequest(client, seqnum)) {
            handleResponse(client, request);
            continue;
        }
        if (client->keepalive_enabled && seqnum == tesk2_message_seqnum(&client->keepalive)) {
            kes_log_printf(log, KES_LOG_VERBOSE, "%s: Got a keepalive response\n", k_process);
            continue;
        }
        kes_log_printf(log, KES_LOG_INFO,
                       "%s: No active request for non-event message with seqnum 0x%04x: ignoring "
                       "message\n",
                       k_process, static_cast<unsigned>(seqnum));
    }
}

kes_result tesk2_client_enable_keepalive(tesk2_client* client, uint16_t protocol,
                                         const kes_time* interval, const kes_time* timeout) {
    if (client == nullptr || protocol == 0 || interval == nullptr || timeout == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    client->keepalive_enabled = true;
    client->keepalive_interval = *interval;
    client->keepalive_timeout = *timeout;
    tesk2_message_set_header(&client->keepalive, protocol, TESK2_OPCODE_KEEPALIVE);
    tesk2_message_set_client_id(&client->keepalive, &client->identity);
    return KES_SUCCESS;
}

kes_result tesk2_client_check_keepalives(tesk2_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    kes_time current;
    now(&current);

    kes_time receiveDeadline = client->last_receive;
    kes_time_add(&receiveDeadline, &client->keepalive_timeout);
    kes_time_normalise(&receiveDeadline);
    if (kes_time_compare(&receiveDeadline, &current) < 0) {
        kes_log_printf(logOf(client), KES_LOG_ERROR, "%s: server has disappeared, disconnecting!\n",
                       k_check);
        client->state = TESK2_DISCONNECTED;
        notify(client, TESK2_NOTIFY_CONNECTION | TESK2_NOTIFY_LIVENESS, nullptr, nullptr,
               KES_TIMEDOUT);
        return KES_SUCCESS;
    }

    kes_time sendDeadline = client->last_send;
    kes_time_add(&sendDeadline, &client->keepalive_interval);
    kes_time_normalise(&sendDeadline);
    if (kes_time_compare(&sendDeadline, &current) < 0) {
        kes_log_printf(logOf(client), KES_LOG_VERBOSE,
                       "%s: keepalive interval has expired, sending keepalive!\n", k_check);
        kes_result result = stampAndSend(client, &client->keepalive);
        if (result != KES_SUCCESS) {
            return result;
        }
        client->last_send = current;
    }

    client->next_deadline =
        kes_time_compare(&receiveDeadline, &sendDeadline) < 0 ? receiveDeadline : sendDeadline;
    return KES_SUCCESS;
}

kes_result tesk2_client_next_deadline(const tesk2_client* client, kes_time* deadline) {
    if (deadline == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (client == nullptr || !client->keepalive_enabled) {
        *deadline = kes_time{0, 0};
        return client == nullptr ? KES_INVALIDPARAMETER : KES_SUCCESS;
    }
    *deadline = client->next_deadline;
    return KES_SUCCESS;
}
