// The manager client: requests through the one protocol request slot, and the
// handling of connection changes, answers and events, in that order.
#include "qel_client.h"

#include "kes_log.h"
#include "qel_codec.h"
#include "qel_dump.h"
#include "tesk2_body.h"

#include <cstdlib>
#include <cstring>

namespace {

const char k_on_event[] = "qel_client_on_event";

kes_log* logOf(const qel_client* client) {
    return client->env != nullptr ? client->env->log : nullptr;
}

void raise(qel_client* client, QelClientEvent event) {
    if (client->callback != nullptr) {
        client->callback(client, event);
    }
}

void updateInfo(qel_client* client, const qel_info* info) {
    if ((client->flags & QEL_CLIENT_INFO_VALID) &&
        std::memcmp(&client->info, info, sizeof *info) == 0) {
        return;
    }
    client->flags |= QEL_CLIENT_INFO_VALID;
    client->info = *info;
    raise(client, QEL_CLIENT_EVENT_INFO);
}

void updateOptions(qel_client* client, const qel_options* options) {
    if ((client->flags & QEL_CLIENT_OPTIONS_VALID) &&
        qel_options_equal(&client->options, options)) {
        return;
    }
    client->flags |= QEL_CLIENT_OPTIONS_VALID;
    client->options = *options;
    raise(client, QEL_CLIENT_EVENT_OPTIONS);
}

void updateState(qel_client* client, const qel_state* state) {
    if ((client->flags & QEL_CLIENT_STATE_VALID) &&
        std::memcmp(&client->state, state, sizeof *state) == 0) {
        return;
    }
    client->flags |= QEL_CLIENT_STATE_VALID;
    client->state = *state;
    raise(client, QEL_CLIENT_EVENT_STATE);
}

template <typename Record>
void clearRecord(qel_client* client, uint32_t bit, Record* record, QelClientEvent event) {
    if (!(client->flags & bit)) {
        return;
    }
    client->flags &= ~bit;
    std::memset(record, 0, sizeof *record);
    raise(client, event);
}

void onConnection(qel_client* client) {
    uint32_t state = tesk2_client_get_state(client->protocol);
    if (state == TESK2_DISCONNECTED) {
        clearRecord(client, QEL_CLIENT_INFO_VALID, &client->info, QEL_CLIENT_EVENT_INFO);
        clearRecord(client, QEL_CLIENT_OPTIONS_VALID, &client->options, QEL_CLIENT_EVENT_OPTIONS);
        clearRecord(client, QEL_CLIENT_STATE_VALID, &client->state, QEL_CLIENT_EVENT_STATE);
    }
    if (client->status != state) {
        client->status = state;
        raise(client, QEL_CLIENT_EVENT_CONNECTION);
    }
}

// An answer that does not decode leaves the stored record as it was: storing
// a zeroed or half-read record as valid would make the panel build its next
// configuration from garbage. Nor is a record taken while disconnected: the
// records describe a live connection and are cleared when it ends.
void onConnectAnswer(qel_client* client, const tesk2_message* answer) {
    if (client->status != TESK2_CONNECTED) {
        return; // a refused connect: records are valid only while connected
    }
    qel_info info;
    kes_result result = qel_info_decode(answer, &info);
    if (result != KES_SUCCESS) {
        char text[KES_RESULT_DESCRIBE_SIZE];
        kes_log_printf(logOf(client), KES_LOG_ERROR, "%s: Error reading info: %s\n", k_on_event,
                       kes_result_describe(result, text));
        return;
    }
    updateInfo(client, &info);
}

void onStateAnswer(qel_client* client, const tesk2_message* answer) {
    kes_log* log = logOf(client);
    if (answer == nullptr) {
        kes_log_printf(log, KES_LOG_ERROR,
                       "%s: SET_CONFIG/CLEAR_SYSTEM_ERROR failed: no response\n", k_on_event);
        return;
    }
    if (client->status != TESK2_CONNECTED) {
        // A stray answer after the connection was lost: records become valid
        // again only after a new connect, so the state it carries is not taken.
        kes_log_printf(log, KES_LOG_WARNING,
                       "%s: SET_CONFIG/CLEAR_SYSTEM_ERROR answer while disconnected: ignored\n",
                       k_on_event);
        return;
    }
    uint16_t status = tesk2_message_status(answer);
    if (status != TESK2_STATUS_RESPONSE) {
        kes_log_printf(log, KES_LOG_ERROR, "%s: SET_CONFIG/CLEAR_SYSTEM_ERROR response status=%s\n",
                       k_on_event, qel_status_name(status));
    }
    qel_state state;
    kes_result result = qel_state_decode(answer, &state);
    if (result != KES_SUCCESS) {
        char text[KES_RESULT_DESCRIBE_SIZE];
        kes_log_printf(log, KES_LOG_ERROR, "%s: Error reading state: %s\n", k_on_event,
                       kes_result_describe(result, text));
        return;
    }
    kes_log_printf(log, KES_LOG_ERROR, "%s: SET_CONFIG/CLEAR_SYSTEM_ERROR: state is now:\n",
                   k_on_event);
    qel_state_dump(log, &state);
    updateState(client, &state);
}

void onResponse(qel_client* client, const tesk2_notification* notification) {
    const tesk2_message* request = tesk2_request_message(notification->request);
    if (request != nullptr) {
        switch (tesk2_message_opcode(request)) {
        case TESK2_OPCODE_CONNECT:
            if (notification->message != nullptr) {
                onConnectAnswer(client, notification->message);
            }
            break;
        case QEL_OPCODE_SET_CONFIG:
        case QEL_OPCODE_CLEAR_SYSTEM_ERROR:
            onStateAnswer(client, notification->message);
            break;
        default:
            break;
        }
    }
    if (notification->request != nullptr && notification->request == client->pending) {
        client->pending = nullptr;
        raise(client, QEL_CLIENT_EVENT_REQUEST_DONE);
    }
}

void onManagerEvent(qel_client* client, const tesk2_message* event) {
    kes_log* log = logOf(client);
    char text[KES_RESULT_DESCRIBE_SIZE];
    switch (tesk2_message_opcode(event)) {
    case QEL_EVENT_OPTIONS: {
        qel_options options;
        kes_result result = qel_options_decode(event, &options);
        if (result != KES_SUCCESS) {
            kes_log_printf(log, KES_LOG_ERROR, "%s: Error reading options: %s\n", k_on_event,
                           kes_result_describe(result, text));
            return;
        }
        kes_log_printf(log, KES_LOG_DEBUG, "%s: options are:", k_on_event);
        qel_options_dump(log, &options);
        updateOptions(client, &options);
        return;
    }
    case QEL_EVENT_STATE: {
        qel_state state;
        kes_result result = qel_state_decode(event, &state);
        if (result != KES_SUCCESS) {
            kes_log_printf(log, KES_LOG_ERROR, "%s: Error reading state: %s\n", k_on_event,
                           kes_result_describe(result, text));
            return;
        }
        kes_log_printf(log, KES_LOG_DEBUG, "%s: state is:", k_on_event);
        qel_state_dump(log, &state);
        updateState(client, &state);
        return;
    }
    default:
        return;
    }
}

// Takes the slot and writes the header; the caller writes the body.
kes_result beginRequest(qel_client* client, uint16_t opcode, tesk2_request** request) {
    if (client->pending != nullptr) {
        return KES_INVALIDSTATE;
    }
    kes_result result = tesk2_client_request_alloc(client->protocol, request);
    if (result != KES_SUCCESS) {
        return result;
    }
    tesk2_message_set_header(tesk2_request_message(*request), QEL_MANAGER_PROTOCOL, opcode);
    return KES_SUCCESS;
}

kes_result finishRequest(qel_client* client, tesk2_request* request, const char* name) {
    kes_result result = tesk2_client_send_request(request);
    if (result != KES_SUCCESS) {
        tesk2_client_request_release(request);
        return result;
    }
    client->pending = request;
    if (name != nullptr) {
        kes_log_printf(logOf(client), KES_LOG_DEBUG, "%s: Sent request, request id is %p\n", name,
                       static_cast<void*>(request));
    }
    return KES_SUCCESS;
}

} // namespace

kes_result qel_client_new(kes_env* env, qel_client** client) {
    return qel_client_new_on_port(env, QEL_MANAGER_PORT, client);
}

kes_result qel_client_new_on_port(kes_env* env, uint16_t port, qel_client** out) {
    if (out == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    auto* client = static_cast<qel_client*>(std::calloc(1, sizeof(qel_client)));
    if (client == nullptr) {
        return KES_NOMEMORY;
    }
    client->env = env;
    client->socket = KES_INVALID_SOCKET;
    client->protocol = tesk2_client_new(env);
    if (client->protocol == nullptr) {
        std::free(client);
        return KES_NOMEMORY;
    }
    client->api_version = QEL_CLIENT_API_VERSION;

    kes_address manager{};
    kes_address local{};
    kes_result result = kes_address_set_ipv4(&manager, KES_FAMILY_IPV4, "127.0.0.1", port);
    if (result == KES_SUCCESS) {
        result = kes_socket_open_connected(&client->socket, &manager);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_set_blocking(client->socket, 0);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_local_address(client->socket, &local);
    }
    if (result == KES_SUCCESS) {
        tesk2_client_id identity{};
        identity.port = kes_address_port(&local);
        result = tesk2_client_initialise(client->protocol, &identity, client->socket);
    }
    if (result == KES_SUCCESS) {
        const kes_time interval{10, 0};
        const kes_time timeout{31, 0};
        result = tesk2_client_enable_keepalive(client->protocol, QEL_MANAGER_PROTOCOL, &interval,
                                               &timeout);
    }
    if (result != KES_SUCCESS) {
        qel_client_free(client);
        return result;
    }
    tesk2_client_set_context(client->protocol, client);
    tesk2_client_set_callback(client->protocol, qel_client_on_event);
    *out = client;
    return KES_SUCCESS;
}

void qel_client_free(qel_client* client) {
    if (client == nullptr) {
        return;
    }
    tesk2_client_free(client->protocol);
    kes_socket_close(&client->socket);
    std::free(client);
}

kes_result qel_client_connect(qel_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_request* request = nullptr;
    kes_result result = beginRequest(client, TESK2_OPCODE_CONNECT, &request);
    if (result != KES_SUCCESS) {
        return result;
    }
    result = tesk2_message_put_u16_array(tesk2_request_message(request), 1, &client->api_version,
                                         nullptr);
    if (result != KES_SUCCESS) {
        tesk2_client_request_release(request);
        return result;
    }
    return finishRequest(client, request, nullptr);
}

kes_result qel_client_disconnect(qel_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (client->status == TESK2_DISCONNECTED) {
        return KES_INVALIDSTATE;
    }
    tesk2_request* request = nullptr;
    kes_result result = beginRequest(client, TESK2_OPCODE_DISCONNECT, &request);
    if (result != KES_SUCCESS) {
        return result;
    }
    return finishRequest(client, request, nullptr);
}

kes_result qel_client_abandon_request(qel_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (client->pending == nullptr) {
        return KES_INVALIDSTATE;
    }
    kes_log_printf(logOf(client), KES_LOG_DEBUG, "%s: request id %p given up\n",
                   "qel_client_abandon_request", static_cast<void*>(client->pending));
    tesk2_client_request_release(client->pending);
    client->pending = nullptr;
    return KES_SUCCESS;
}

kes_result qel_client_set_system_config(const qel_config* config, qel_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (client->pending != nullptr) {
        return KES_INVALIDSTATE;
    }
    if (config == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (!(client->flags & QEL_CLIENT_OPTIONS_VALID)) {
        return KES_INVALIDSTATE;
    }
    if (!qel_config_is_valid(&client->options, config)) {
        return KES_INVALIDDATA;
    }
    tesk2_request* request = nullptr;
    kes_result result = beginRequest(client, QEL_OPCODE_SET_CONFIG, &request);
    if (result != KES_SUCCESS) {
        return result;
    }
    result = qel_config_encode(config, tesk2_request_message(request));
    if (result != KES_SUCCESS) {
        tesk2_client_request_release(request);
        return result;
    }
    const char name[] = "qel_client_set_system_config";
    kes_log_printf(logOf(client), KES_LOG_DEBUG, "%s: Sending SET CONFIG request with config:\n",
                   name);
    qel_config_dump(logOf(client), config, "  ");
    return finishRequest(client, request, name);
}

kes_result qel_client_clear_system_error(qel_client* client) {
    if (client == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    tesk2_request* request = nullptr;
    kes_result result = beginRequest(client, QEL_OPCODE_CLEAR_SYSTEM_ERROR, &request);
    if (result != KES_SUCCESS) {
        return result;
    }
    const char name[] = "qel_client_clear_system_error";
    kes_log_printf(logOf(client), KES_LOG_DEBUG,
                   "%s: Sending CLEAR SYSTEM ERROR request no config\n", name);
    return finishRequest(client, request, name);
}

int qel_client_on_event(tesk2_client* protocol, const tesk2_notification* notification) {
    auto* client = static_cast<qel_client*>(tesk2_client_get_context(protocol));
    if (client == nullptr || notification == nullptr) {
        return 0;
    }
    if (notification->flags & TESK2_NOTIFY_CONNECTION) {
        onConnection(client);
    }
    if (notification->flags & TESK2_NOTIFY_RESPONSE) {
        onResponse(client, notification);
    }
    if ((notification->flags & TESK2_NOTIFY_EVENT) && notification->message != nullptr) {
        onManagerEvent(client, notification->message);
    }
    return 0;
}
