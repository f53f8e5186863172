// The session: the manager client on the calling thread, every wait one
// for its socket and the waker bounded by the runtime's clock (so that
// a test clock governs the limits), and a protocol callback in front of the
// manager client's that notes what the owner is not told: the status of an
// answer and whether a record that arrived could be read.
#include "qelctl_session.h"

#include "kes_text.h"
#include "qel_codec.h"
#include "tesk2_client.h"

#include <climits>

namespace qelctl {
namespace {

// The panel's words for a manager that nobody runs.
const char k_notAvailable[] =
    "The QEL Manager service is not available, please try again in a few minutes";

// Datagrams taken in per step, so that a flood never keeps a wait from
// noticing the waker.
constexpr size_t k_batch = 64;

std::string resultText(kes_result result) {
    const char* text = kes_result_text(result);
    return text != nullptr ? text : "(null)";
}

bool isConnected(const qel_client* client) {
    return client->status == TESK2_CONNECTED;
}

// The CONNECT was answered without a connection ("Too many clients"):
// waiting longer cannot help.
kes_result connectRefused(const qel_client* client) {
    return client->status == TESK2_DISCONNECTED && client->pending == nullptr ? KES_CONNREFUSED
                                                                              : KES_SUCCESS;
}

kes_result neverFails(const qel_client*) {
    return KES_SUCCESS;
}

bool hasOptions(const qel_client* client) {
    return (client->flags & QEL_CLIENT_OPTIONS_VALID) != 0;
}

bool hasState(const qel_client* client) {
    return (client->flags & QEL_CLIENT_STATE_VALID) != 0;
}

bool answered(const qel_client* client) {
    return client->pending == nullptr;
}

bool isSet(const kes_time& t) {
    return t.seconds != 0 || t.microseconds != 0;
}

// The span as whole milliseconds, rounded up, 0 for a span already past.
int milliseconds(const kes_time& span) {
    if (span.seconds < 0 || (span.seconds == 0 && span.microseconds <= 0)) {
        return 0;
    }
    const int64_t ms = span.seconds * 1000 + (span.microseconds + 999) / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::string unreadable(const char* what, kes_result decoded) {
    if (decoded == KES_SUCCESS) {
        return "";
    }
    return std::string(" (") + what + " arrived that could not be read: " + resultText(decoded) +
           ")";
}

} // namespace

Session::Session(kes_env* env, uint16_t port, Waker* waker)
    : m_env(env), m_port(port), m_waker(waker) {}

Session::~Session() {
    close();
    qel_client_free(m_client);
}

Outcome Session::open() {
    if (m_client != nullptr) {
        return Outcome{EXIT_UNAVAILABLE, "the session is open already"};
    }
    kes_result result = qel_client_new_on_port(m_env, m_port, &m_client);
    if (result != KES_SUCCESS) {
        m_client = nullptr;
        return Outcome{EXIT_UNAVAILABLE,
                       "Failed to initialize the QEL client: " + resultText(result)};
    }
    m_client->owner_context = this;
    m_client->callback = &Session::onClientEvent;
    tesk2_client_set_callback(m_client->protocol, &Session::onProtocol);

    result = qel_client_connect(m_client);
    if (result != KES_SUCCESS) {
        return Outcome{EXIT_UNAVAILABLE, "Failed to connect QEL client: " + resultText(result)};
    }
    result = waitFor(&isConnected, &connectRefused);
    switch (result) {
    case KES_SUCCESS:
        break;
    case KES_INTERRUPTED:
        return interrupted();
    case KES_CONNRESET:
        return Outcome{EXIT_UNAVAILABLE, k_notAvailable};
    case KES_CONNREFUSED:
        return Outcome{EXIT_UNAVAILABLE,
                       "Error waiting for connection response from manager: connection refused "
                       "(the manager answered " +
                           std::string(qel_status_name(m_answer.status)) + ")"};
    default:
        return Outcome{EXIT_UNAVAILABLE,
                       "Error waiting for connection response from manager: " + resultText(result)};
    }
    if ((m_client->flags & QEL_CLIENT_INFO_VALID) == 0) {
        return Outcome{EXIT_UNAVAILABLE,
                       "Error reading the manager's info: " + resultText(m_infoDecoded)};
    }
    result = waitFor(&hasOptions, &neverFails);
    if (result == KES_INTERRUPTED) {
        return interrupted();
    }
    if (result != KES_SUCCESS) {
        return Outcome{EXIT_UNAVAILABLE,
                       "Error waiting for options from manager: " + resultText(result) +
                           unreadable("an options event", m_optionsDecoded)};
    }
    result = waitFor(&hasState, &neverFails);
    if (result == KES_INTERRUPTED) {
        return interrupted();
    }
    if (result != KES_SUCCESS) {
        return Outcome{EXIT_UNAVAILABLE,
                       "Error waiting for state from manager: " + resultText(result) +
                           unreadable("a state event", m_stateDecoded)};
    }
    return Outcome{};
}

Outcome Session::setConfig(const qel_config& config) {
    if (m_client == nullptr) {
        return Outcome{EXIT_UNAVAILABLE, "not connected"};
    }
    m_answer = Answer{};
    return request(qel_client_set_system_config(&config, m_client), "SET CONFIG",
                   "The manager refused the configuration");
}

Outcome Session::clearSystemError() {
    if (m_client == nullptr) {
        return Outcome{EXIT_UNAVAILABLE, "not connected"};
    }
    m_answer = Answer{};
    return request(qel_client_clear_system_error(m_client), "CLEAR SYSTEM ERROR",
                   "The manager refused to clear the system error");
}

Outcome Session::request(kes_result sent, const char* what, const char* refusal) {
    if (sent != KES_SUCCESS) {
        return Outcome{sent == KES_INVALIDDATA ? EXIT_REFUSED : EXIT_UNAVAILABLE,
                       std::string("Failed to send ") + what + ": " + resultText(sent)};
    }
    const kes_result result = waitFor(&answered, &neverFails);
    if (result == KES_INTERRUPTED) {
        return interrupted();
    }
    if (result != KES_SUCCESS || !m_answer.arrived) {
        return Outcome{EXIT_UNAVAILABLE,
                       std::string("Error waiting for the manager's answer to ") + what + ": " +
                           resultText(result != KES_SUCCESS ? result : KES_NODATA)};
    }
    const uint16_t status = m_answer.status;
    if (status == TESK2_STATUS_RESPONSE) {
        if (m_answer.decoded != KES_SUCCESS) {
            return Outcome{EXIT_UNAVAILABLE,
                           std::string("The manager's answer to ") + what +
                               " could not be read: " + resultText(m_answer.decoded)};
        }
        return Outcome{};
    }
    if (status == TESK2_STATUS_NOT_CONNECTED) {
        return Outcome{EXIT_UNAVAILABLE, std::string(refusal) +
                                             ": Not connected (the manager no longer knows "
                                             "this client)"};
    }
    std::string message = std::string(refusal) + ": " + qel_status_name(status);
    if (status == QEL_STATUS_INVALID_STATE && m_answer.decoded == KES_SUCCESS &&
        m_answerState.config_lock_flags != 0) {
        char flags[8];
        kes_snprintf(flags, sizeof flags, "0x%04x", m_answerState.config_lock_flags);
        message += std::string("; the configuration is locked (lock flags ") + flags + ")";
    }
    return Outcome{EXIT_REFUSED, message};
}

FollowEnd Session::follow(const std::function<bool(QelClientEvent)>& handler,
                          const kes_time& deadline) {
    if (m_client == nullptr) {
        return FollowEnd::LOST;
    }
    m_events.clear();
    // The keepalive check runs once the socket is empty, and sets the next
    // deadline.
    kes_result result = process();
    for (;;) {
        for (const QelClientEvent event : m_events) {
            if (!handler(event)) {
                m_events.clear();
                return FollowEnd::STOPPED;
            }
        }
        m_events.clear();
        if (result == KES_CONNRESET || result == KES_CONNREFUSED ||
            m_client->status == TESK2_DISCONNECTED) {
            if (m_lostReason.empty()) {
                m_lostReason = "the manager's port is closed (the manager has stopped)";
            }
            return FollowEnd::LOST;
        }
        kes_time now{0, 0};
        kes_time_now(&now);
        if (isSet(deadline) && kes_time_compare(&now, &deadline) >= 0) {
            return FollowEnd::TIMED_OUT;
        }
        // Just past the keepalive deadline, so that the check finds it due.
        kes_time wake{0, 0};
        tesk2_client_next_deadline(m_client->protocol, &wake);
        const kes_time past{0, 1000};
        kes_time_add(&wake, &past);
        if (isSet(deadline) && kes_time_compare(&deadline, &wake) < 0) {
            wake = deadline;
        }
        kes_time span = wake;
        kes_time_subtract(&span, &now);
        if (!waitReadable(span)) {
            return FollowEnd::INTERRUPTED;
        }
        result = process();
    }
}

void Session::close() {
    if (m_client == nullptr || m_client->status == TESK2_DISCONNECTED) {
        return;
    }
    if (m_client->pending != nullptr) {
        qel_client_abandon_request(m_client);
    }
    qel_client_disconnect(m_client);
}

const qel_info* Session::info() const {
    return m_client != nullptr && (m_client->flags & QEL_CLIENT_INFO_VALID) ? &m_client->info
                                                                            : nullptr;
}

bool Session::connected() const {
    return m_client != nullptr && m_client->status == TESK2_CONNECTED;
}

int Session::interruptedStatus() const {
    return EXIT_SIGNAL_BASE + (m_waker != nullptr ? m_waker->stopSignal() : 0);
}

Outcome Session::interrupted() const {
    return Outcome{interruptedStatus(), "interrupted"};
}

kes_result Session::waitFor(bool (*condition)(const qel_client*),
                            kes_result (*failure)(const qel_client*)) {
    kes_time now{0, 0};
    kes_time_now(&now);
    kes_time deadline = now;
    kes_time_add(&deadline, &WAIT_LIMIT);
    if (isSet(m_deadline) && kes_time_compare(&m_deadline, &deadline) < 0) {
        deadline = m_deadline;
    }
    while (!condition(m_client)) {
        if (kes_time_compare(&now, &deadline) >= 0) {
            return KES_TIMEDOUT;
        }
        kes_time remaining = deadline;
        kes_time_subtract(&remaining, &now);
        if (!waitReadable(remaining)) {
            return KES_INTERRUPTED;
        }
        kes_result result = process();
        if (result != KES_SUCCESS) {
            return result;
        }
        if (!condition(m_client)) {
            result = failure(m_client);
            if (result != KES_SUCCESS) {
                return result;
            }
        }
        kes_time_now(&now);
    }
    return KES_SUCCESS;
}

bool Session::waitReadable(const kes_time& span) {
    const bool woken = waitSocketOrWaker(m_client->socket, m_waker, milliseconds(span));
    if (m_waker == nullptr) {
        return true;
    }
    if (woken) {
        m_waker->drain();
    }
    return m_waker->stopSignal() == 0;
}

kes_result Session::process() {
    return tesk2_client_process_some(m_client->protocol, k_batch);
}

int Session::onProtocol(tesk2_client* protocol, const tesk2_notification* notification) {
    auto* client = static_cast<qel_client*>(tesk2_client_get_context(protocol));
    auto* self = client != nullptr ? static_cast<Session*>(client->owner_context) : nullptr;
    if (self != nullptr && notification != nullptr) {
        const tesk2_message* message = notification->message;
        if ((notification->flags & TESK2_NOTIFY_RESPONSE) && message != nullptr &&
            notification->request != nullptr && notification->request == client->pending) {
            self->m_answer.arrived = true;
            self->m_answer.status = tesk2_message_status(message);
            const uint16_t opcode =
                tesk2_message_opcode(tesk2_request_message(notification->request));
            if (opcode == TESK2_OPCODE_CONNECT) {
                qel_info info;
                self->m_infoDecoded = self->m_answer.status == TESK2_STATUS_RESPONSE
                                          ? qel_info_decode(message, &info)
                                          : KES_NODATA;
            } else if (opcode == QEL_OPCODE_SET_CONFIG || opcode == QEL_OPCODE_CLEAR_SYSTEM_ERROR) {
                self->m_answer.decoded = qel_state_decode(message, &self->m_answerState);
            }
        }
        if ((notification->flags & TESK2_NOTIFY_EVENT) && message != nullptr) {
            const uint16_t opcode = tesk2_message_opcode(message);
            if (opcode == QEL_EVENT_OPTIONS) {
                qel_options options;
                self->m_optionsDecoded = qel_options_decode(message, &options);
            } else if (opcode == QEL_EVENT_STATE) {
                qel_state state;
                self->m_stateDecoded = qel_state_decode(message, &state);
            }
        }
        if (notification->flags & TESK2_NOTIFY_LIVENESS) {
            self->m_lostReason = "no word from the manager for 31 s";
        } else if ((notification->flags & TESK2_NOTIFY_CONNECTION) &&
                   notification->result == KES_CONNRESET) {
            self->m_lostReason = "the manager's port is closed (the manager has stopped)";
        }
    }
    return qel_client_on_event(protocol, notification);
}

void Session::onClientEvent(qel_client* client, QelClientEvent event) {
    auto* self = static_cast<Session*>(client->owner_context);
    // Only a watch hands them on; the queue never grows otherwise.
    if (self != nullptr && self->m_events.size() < 4096) {
        self->m_events.push_back(event);
    }
}

} // namespace qelctl
