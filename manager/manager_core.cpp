// The stand-in manager's protocol logic: header checks, sessions, the
// requests and their answers, and the events that follow every change.
#include "manager_core.h"

#include "kes_text.h"
#include "qel_codec.h"
#include "tesk2_body.h"

#include <algorithm>
#include <cstring>

#ifndef QEL_VERSION_MAJOR
#define QEL_VERSION_MAJOR 0
#endif
#ifndef QEL_VERSION_MINOR
#define QEL_VERSION_MINOR 0
#endif
#ifndef QEL_VERSION_PATCH
#define QEL_VERSION_PATCH 0
#endif

namespace {

const char* opcodeName(uint16_t opcode) {
    switch (opcode) {
    case TESK2_OPCODE_KEEPALIVE:
        return "KEEPALIVE";
    case TESK2_OPCODE_CONNECT:
        return "CONNECT";
    case TESK2_OPCODE_DISCONNECT:
        return "DISCONNECT";
    case QEL_OPCODE_SET_CONFIG:
        return "SET CONFIG";
    case QEL_OPCODE_CLEAR_SYSTEM_ERROR:
        return "CLEAR SYSTEM ERROR";
    default:
        return "unknown opcode";
    }
}

bool sameAddress(const kes_address& a, const kes_address& b) {
    return a.length == b.length && a.address.family == b.address.family &&
           a.address.port == b.address.port && a.address.ipv4 == b.address.ipv4;
}

bool macIsZero(const uint8_t* mac) {
    for (size_t i = 0; i < QEL_MAC_SIZE; ++i) {
        if (mac[i] != 0) {
            return false;
        }
    }
    return true;
}

uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Stores `name` (cut to the capacity) in a zero-filled wide name field.
void setWideName(char16_t* destination, size_t capacity, const std::u16string& name) {
    std::memset(destination, 0, capacity * sizeof(char16_t));
    const size_t n = std::min(name.size(), capacity - 1);
    for (size_t i = 0; i < n && name[i] != 0; ++i) {
        destination[i] = name[i];
    }
}

bool wideNameEquals(const char16_t* field, size_t capacity, const std::u16string& name) {
    char16_t expected[QEL_INTERFACE_NAME_SIZE];
    setWideName(expected, QEL_INTERFACE_NAME_SIZE, name);
    return std::memcmp(field, expected, capacity * sizeof(char16_t)) == 0;
}

} // namespace

std::string managerAddressText(const kes_address& address) {
    char ip[KES_ADDRESS_TEXT_SIZE];
    if (kes_ipv4_to_text(&address, ip, sizeof ip) == nullptr) {
        return "?";
    }
    char text[KES_ADDRESS_TEXT_SIZE];
    kes_snprintf(text, sizeof text, "%s:%u", ip, static_cast<unsigned>(kes_address_port(&address)));
    return text;
}

ManagerCore::ManagerCore(kes_log* log, const qel_options& options,
                         const std::vector<ManagerInterface>& interfaces, const qel_config& config)
    : m_log(log) {
    std::memset(&m_options, 0, sizeof m_options);
    std::memset(&m_config, 0, sizeof m_config);
    std::memset(&m_state, 0, sizeof m_state);
    m_options = options;
    m_config = config;
    offerInterfaces(interfaces);
    refreshState();
    m_sentOptions = m_options;
    m_sentState = m_state;
}

qel_info ManagerCore::info() {
    qel_info info;
    std::memset(&info, 0, sizeof info);
    info.first_value = QEL_CLIENT_API_VERSION;
    info.major = static_cast<uint8_t>(QEL_VERSION_MAJOR);
    info.minor = static_cast<uint8_t>(QEL_VERSION_MINOR);
    info.build = static_cast<uint16_t>(QEL_VERSION_PATCH);
    kes_strlcpy(info.suffix, MANAGER_VERSION_SUFFIX, sizeof info.suffix);
    return info;
}

bool ManagerCore::optionsFit(const qel_options& options) {
    return optionsFitOneMessage(options);
}

bool ManagerCore::validApartFromInterface(const qel_options& options, const qel_config& config) {
    qel_config copy = config;
    std::memset(copy.interface.mac, 0, QEL_MAC_SIZE);
    return qel_config_is_valid(&options, &copy);
}

// ---- datagrams ----

void ManagerCore::handleDatagram(const uint8_t* data, size_t size, const kes_address& from,
                                 Outbox& out) {
    const std::string who = managerAddressText(from);
    if (data == nullptr || size < TESK2_HEADER_SIZE) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram from %s: too short (%llu < %u bytes)\n",
                       MANAGER_LOG_NAME, who.c_str(),
                       static_cast<unsigned long long>(data == nullptr ? 0 : size),
                       static_cast<unsigned>(TESK2_HEADER_SIZE));
        return;
    }
    if (size > TESK2_DATAGRAM_MAX) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram from %s: too long (%llu > %u bytes)\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned long long>(size),
                       static_cast<unsigned>(TESK2_DATAGRAM_MAX));
        return;
    }
    const uint16_t length = readU16(data + TESK2_OFFSET_LENGTH);
    if (length != size) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram from %s: length field %u, but %llu bytes arrived\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(length),
                       static_cast<unsigned long long>(size));
        return;
    }
    const uint16_t protocol = readU16(data + TESK2_OFFSET_PROTOCOL);
    if (protocol != QEL_MANAGER_PROTOCOL) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram from %s: protocol 0x%04x is not 0x%04x\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(protocol),
                       static_cast<unsigned>(QEL_MANAGER_PROTOCOL));
        return;
    }
    const uint16_t status = readU16(data + TESK2_OFFSET_STATUS);
    if (status != TESK2_STATUS_REQUEST) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram from %s: status 0x%04x (%s) is not a request\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(status),
                       qel_status_name(status));
        return;
    }
    if (from.length == 0 || from.address.family != KES_FAMILY_IPV4) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: dropped a datagram: its sender has no IPv4 address\n",
                       MANAGER_LOG_NAME);
        return;
    }

    tesk2_message request;
    tesk2_message_init(&request);
    std::memcpy(tesk2_message_data(&request), data, size);
    const uint16_t opcode = tesk2_message_opcode(&request);

    if (m_faults.silent) {
        kes_log_printf(m_log, KES_LOG_DEBUG, "%s: client %s: %s ignored (silent)\n",
                       MANAGER_LOG_NAME, who.c_str(), opcodeName(opcode));
        return;
    }

    ManagerSession* session = findSession(from, request);
    if (m_faults.notConnected) {
        if (opcode == TESK2_OPCODE_DISCONNECT) {
            if (session != nullptr) {
                removeSession(session);
                kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s disconnected\n",
                               MANAGER_LOG_NAME, who.c_str());
            }
            return;
        }
        kes_log_printf(m_log, KES_LOG_DEBUG, "%s: client %s: %s answered Not connected (mode)\n",
                       MANAGER_LOG_NAME, who.c_str(), opcodeName(opcode));
        answer(request, from, TESK2_STATUS_NOT_CONNECTED, 0, out);
        return;
    }

    if (opcode == TESK2_OPCODE_CONNECT) {
        handleConnect(request, from, session, out);
        return;
    }
    if (session == nullptr) {
        if (opcode == TESK2_OPCODE_DISCONNECT) {
            kes_log_printf(m_log, KES_LOG_DEBUG,
                           "%s: client %s: DISCONNECT without a session ignored\n",
                           MANAGER_LOG_NAME, who.c_str());
            return;
        }
        kes_log_printf(m_log, KES_LOG_DEBUG, "%s: client %s: %s answered Not connected\n",
                       MANAGER_LOG_NAME, who.c_str(), opcodeName(opcode));
        answer(request, from, TESK2_STATUS_NOT_CONNECTED, 0, out);
        return;
    }

    kes_time_now(&session->lastHeard);
    switch (opcode) {
    case TESK2_OPCODE_KEEPALIVE:
        answer(request, from, TESK2_STATUS_RESPONSE, 0, out);
        break;
    case TESK2_OPCODE_DISCONNECT:
        removeSession(session);
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s disconnected\n", MANAGER_LOG_NAME,
                       who.c_str());
        break;
    case QEL_OPCODE_SET_CONFIG:
        handleSetConfig(request, from, *session, out);
        break;
    case QEL_OPCODE_CLEAR_SYSTEM_ERROR:
        handleClearSystemError(request, from, *session, out);
        break;
    default:
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s: opcode 0x%04x not recognised\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(opcode));
        answer(request, from, TESK2_STATUS_UNRECOGNISED_OPCODE, 0, out);
        break;
    }
}

void ManagerCore::handleConnect(const tesk2_message& request, const kes_address& from,
                                ManagerSession* session, Outbox& out) {
    const std::string who = managerAddressText(from);
    if (m_faults.refuse) {
        if (session != nullptr) {
            removeSession(session);
        }
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s refused: refusing connections\n",
                       MANAGER_LOG_NAME, who.c_str());
        answer(request, from, TESK2_STATUS_TOO_MANY_CLIENTS, 0, out);
        return;
    }

    uint16_t version = 0;
    uint16_t count = 1;
    const kes_result read = tesk2_message_get_u16_array(&request, 0, &count, &version);
    if (read != KES_SUCCESS || count != 1 || version != QEL_CLIENT_API_VERSION) {
        if (session != nullptr) {
            removeSession(session);
        }
        if (read != KES_SUCCESS || count != 1) {
            kes_log_printf(m_log, KES_LOG_INFO,
                           "%s: client %s refused: no API version in its CONNECT\n",
                           MANAGER_LOG_NAME, who.c_str());
        } else {
            kes_log_printf(m_log, KES_LOG_INFO,
                           "%s: client %s refused: API version %u (this manager speaks %u)\n",
                           MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(version),
                           static_cast<unsigned>(QEL_CLIENT_API_VERSION));
        }
        answer(request, from, QEL_STATUS_INVALID_API, 0, out);
        return;
    }

    if (session == nullptr) {
        if (m_sessions.size() >= MANAGER_MAX_CLIENTS) {
            kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s refused: too many clients\n",
                           MANAGER_LOG_NAME, who.c_str());
            answer(request, from, TESK2_STATUS_TOO_MANY_CLIENTS, 0, out);
            return;
        }
        ManagerSession added;
        std::memset(&added, 0, sizeof added);
        added.address = from;
        tesk2_message_client_id(&request, &added.id);
        m_sessions.push_back(added);
        session = &m_sessions.back();
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s connected\n", MANAGER_LOG_NAME,
                       who.c_str());
    } else {
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s connected again\n", MANAGER_LOG_NAME,
                       who.c_str());
    }
    kes_time_now(&session->lastHeard);
    answer(request, from, TESK2_STATUS_RESPONSE, 'i', out);
    sendEvent(*session, QEL_EVENT_OPTIONS, out);
    sendEvent(*session, QEL_EVENT_STATE, out);
}

void ManagerCore::handleSetConfig(const tesk2_message& request, const kes_address& from,
                                  ManagerSession& session, Outbox& out) {
    const std::string who = managerAddressText(from);
    qel_config config;
    const kes_result decoded = qel_config_decode(&request, 0, &config);
    if (decoded != KES_SUCCESS) {
        char reason[KES_RESULT_DESCRIBE_SIZE];
        kes_result_describe(decoded, reason);
        kes_log_printf(m_log, KES_LOG_INFO,
                       "%s: client %s: SET CONFIG refused: the body does not decode (%s)\n",
                       MANAGER_LOG_NAME, who.c_str(), reason);
        answer(request, from, QEL_STATUS_INVALID_DATA, 's', out);
        return;
    }
    if (!qel_config_is_valid(&m_options, &config)) {
        kes_log_printf(m_log, KES_LOG_INFO,
                       "%s: client %s: SET CONFIG refused: not valid against the options\n",
                       MANAGER_LOG_NAME, who.c_str());
        answer(request, from, QEL_STATUS_INVALID_DATA, 's', out);
        return;
    }
    if (m_lockFlags != 0) {
        kes_log_printf(m_log, KES_LOG_INFO,
                       "%s: client %s: SET CONFIG refused: the configuration is locked "
                       "(0x%04x)\n",
                       MANAGER_LOG_NAME, who.c_str(), static_cast<unsigned>(m_lockFlags));
        answer(request, from, QEL_STATUS_INVALID_STATE, 's', out);
        return;
    }
    const qel_config before = m_config;
    m_config = config;
    update(before);
    kes_log_printf(m_log, KES_LOG_DEBUG, "%s: client %s: SET CONFIG applied\n", MANAGER_LOG_NAME,
                   who.c_str());
    answer(request, from, TESK2_STATUS_RESPONSE, 's', out);
    // The others hear of every applied configuration, even an unchanged one.
    broadcastState(out, &session);
}

void ManagerCore::handleClearSystemError(const tesk2_message& request, const kes_address& from,
                                         ManagerSession& session, Outbox& out) {
    if (m_systemError != 0) {
        kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s cleared system error 0x%04x\n",
                       MANAGER_LOG_NAME, managerAddressText(from).c_str(),
                       static_cast<unsigned>(m_systemError));
    }
    m_systemError = 0;
    update(m_config);
    answer(request, from, TESK2_STATUS_RESPONSE, 's', out);
    publish(out, &session);
}

// ---- sessions ----

ManagerSession* ManagerCore::findSession(const kes_address& from, const tesk2_message& request) {
    const uint8_t* id = tesk2_message_data(&request) + TESK2_OFFSET_CLIENT_ID;
    for (auto& session : m_sessions) {
        if (sameAddress(session.address, from) &&
            std::memcmp(session.id.id, id, TESK2_CLIENT_ID_SIZE) == 0) {
            return &session;
        }
    }
    return nullptr;
}

void ManagerCore::removeSession(const ManagerSession* session) {
    m_sessions.erase(m_sessions.begin() + (session - m_sessions.data()));
}

void ManagerCore::tick() {
    kes_time now{};
    kes_time_now(&now);
    const kes_time timeout{MANAGER_CLIENT_TIMEOUT_SECONDS, 0};
    for (size_t i = 0; i < m_sessions.size();) {
        kes_time deadline = m_sessions[i].lastHeard;
        kes_time_add(&deadline, &timeout);
        if (kes_time_compare(&deadline, &now) < 0) {
            kes_log_printf(m_log, KES_LOG_INFO, "%s: client %s forgotten after %lld s of silence\n",
                           MANAGER_LOG_NAME, managerAddressText(m_sessions[i].address).c_str(),
                           static_cast<long long>(MANAGER_CLIENT_TIMEOUT_SECONDS));
            m_sessions.erase(m_sessions.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

// ---- outgoing messages ----

void ManagerCore::answer(const tesk2_message& request, const kes_address& to, uint16_t status,
                         char body, Outbox& out) {
    tesk2_message message;
    tesk2_message_init(&message);
    const uint16_t opcode = tesk2_message_opcode(&request);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
    tesk2_message_set_seqnum(&message, tesk2_message_seqnum(&request));
    std::memcpy(tesk2_message_data(&message) + TESK2_OFFSET_CLIENT_PORT,
                tesk2_message_data(&request) + TESK2_OFFSET_CLIENT_PORT, 2 + TESK2_CLIENT_ID_SIZE);
    kes_result result = KES_SUCCESS;
    if (body == 'i') {
        const qel_info record = info();
        result = qel_info_encode(&record, &message);
    } else if (body == 's') {
        result = qel_state_encode(&m_state, &message);
    }
    if (result != KES_SUCCESS) {
        // Cannot happen with records this manager builds; answer without a
        // body rather than send half of one.
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: answer to %s does not encode (code %d)\n",
                       MANAGER_LOG_NAME, opcodeName(opcode), static_cast<int>(result));
        tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
        tesk2_message_set_seqnum(&message, tesk2_message_seqnum(&request));
        status = TESK2_STATUS_SERVER_ERROR;
    }
    tesk2_message_set_status(&message, status);
    queue(to, message, out);
}

// A message whose length field lies outside the datagram would be sent from
// beyond its buffer: it is logged and dropped instead.
void ManagerCore::queue(const kes_address& to, const tesk2_message& message, Outbox& out) {
    size_t size = 0;
    if (tesk2_message_send_size(&message, &size) != KES_SUCCESS) {
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: %s with length %u not sent\n", MANAGER_LOG_NAME,
                       opcodeName(tesk2_message_opcode(&message)),
                       static_cast<unsigned>(tesk2_message_length(&message)));
        return;
    }
    const uint8_t* bytes = tesk2_message_data(&message);
    out.push_back(ManagerDatagram{to, std::vector<uint8_t>(bytes, bytes + size)});
}

void ManagerCore::sendEvent(ManagerSession& session, uint16_t opcode, Outbox& out) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
    tesk2_message_set_client_id(&message, &session.id);
    kes_result result = KES_SUCCESS;
    if (opcode == QEL_EVENT_OPTIONS) {
        result = qel_options_encode(&m_options, &message);
    } else {
        result = qel_state_encode(&m_state, &message);
    }
    if (result != KES_SUCCESS) {
        kes_log_printf(m_log, KES_LOG_ERROR, "%s: %s event does not encode (code %d); not sent\n",
                       MANAGER_LOG_NAME, opcode == QEL_EVENT_OPTIONS ? "options" : "state",
                       static_cast<int>(result));
        return;
    }
    tesk2_message_set_seqnum(&message, session.nextSeqnum++);
    tesk2_message_set_status(&message, TESK2_STATUS_EVENT);
    ++session.eventsSent;
    queue(session.address, message, out);
}

void ManagerCore::publish(Outbox& out, const ManagerSession* except) {
    if (eventsSuppressed()) {
        return;
    }
    if (!qel_options_equal(&m_options, &m_sentOptions)) {
        for (auto& session : m_sessions) {
            sendEvent(session, QEL_EVENT_OPTIONS, out);
        }
        m_sentOptions = m_options;
    }
    if (std::memcmp(&m_state, &m_sentState, sizeof m_state) != 0) {
        broadcastState(out, except);
    }
}

void ManagerCore::broadcastState(Outbox& out, const ManagerSession* except) {
    if (eventsSuppressed()) {
        return;
    }
    for (auto& session : m_sessions) {
        if (&session != except) {
            sendEvent(session, QEL_EVENT_STATE, out);
        }
    }
    m_sentState = m_state;
}

// ---- records ----

void ManagerCore::offerInterfaces(const std::vector<ManagerInterface>& interfaces) {
    std::vector<ManagerInterface> offered(
        interfaces.begin(), interfaces.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                     interfaces.size(), QEL_OPTIONS_LIST_MAX)));
    qel_options candidate = m_options;
    fillOptionsInterfaces(offered, candidate);
    while (!offered.empty() && !optionsFitOneMessage(candidate)) {
        offered.pop_back();
        fillOptionsInterfaces(offered, candidate);
    }
    if (offered.size() < interfaces.size() &&
        (interfaces.size() != m_interfacesGiven || offered.size() != m_interfaces.size())) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: offering %u of %u interfaces: the options must fit in one "
                       "datagram and hold at most %u\n",
                       MANAGER_LOG_NAME, static_cast<unsigned>(offered.size()),
                       static_cast<unsigned>(interfaces.size()),
                       static_cast<unsigned>(QEL_OPTIONS_LIST_MAX));
    }
    m_interfacesGiven = interfaces.size();
    m_interfaces = offered;
    m_options = candidate;
}

void ManagerCore::refreshState() {
    qel_state state;
    std::memset(&state, 0, sizeof state);

    const ManagerInterface* chosen = nullptr;
    if (!macIsZero(m_config.interface.mac)) {
        for (const auto& candidate : m_interfaces) {
            if (std::memcmp(candidate.mac, m_config.interface.mac, QEL_MAC_SIZE) == 0) {
                chosen = &candidate;
                break;
            }
        }
    }
    if (chosen != nullptr &&
        !wideNameEquals(m_config.interface.name, QEL_INTERFACE_NAME_SIZE, chosen->name)) {
        setWideName(m_config.interface.name, QEL_INTERFACE_NAME_SIZE, chosen->name);
    }

    state.config = m_config;
    state.config_lock_flags = m_lockFlags;
    state.system_error = m_systemError;
    if (chosen != nullptr) {
        state.link_up = chosen->linkUp && !m_linkForcedDown ? 1 : 0;
        state.link_speed = state.link_up != 0 ? chosen->speedMbps : 0;
        std::memcpy(state.ip_address, chosen->ipv4, QEL_IP_ADDRESS_SIZE);
    }
    kes_strlcpy(state.device_name, MANAGER_DEVICE_NAME, sizeof state.device_name);
    const std::u16string process(MANAGER_PROCESS_NAME);
    setWideName(state.dll_process_name, QEL_DLL_PROCESS_NAME_SIZE, process);
    m_state = state;
}

void ManagerCore::update(qel_config before) {
    refreshState();
    if (std::memcmp(&before, &m_config, sizeof before) != 0 && m_configChanged) {
        m_configChanged(m_config);
    }
}

// ---- settings ----

void ManagerCore::setOptions(const qel_options& options,
                             const std::vector<ManagerInterface>& interfaces,
                             const qel_config& fallback, Outbox& out) {
    qel_options bare = options;
    fillOptionsInterfaces({}, bare);
    const qel_config before = m_config;
    m_options = bare;
    m_interfacesGiven = 0;
    m_interfaces.clear();
    offerInterfaces(interfaces);
    if (!validApartFromInterface(m_options, m_config)) {
        kes_log_printf(m_log, KES_LOG_WARNING,
                       "%s: the configuration in force is not valid against the new options; "
                       "using the default configuration\n",
                       MANAGER_LOG_NAME);
        m_config = fallback;
    }
    update(before);
    publish(out);
}

void ManagerCore::setInterfaces(const std::vector<ManagerInterface>& interfaces, Outbox& out) {
    offerInterfaces(interfaces);
    update(m_config);
    publish(out);
}

void ManagerCore::setSystemError(uint16_t code, Outbox& out) {
    m_systemError = code;
    update(m_config);
    publish(out);
}

void ManagerCore::setLock(uint16_t flags, Outbox& out) {
    m_lockFlags = flags;
    update(m_config);
    publish(out);
}

void ManagerCore::setLink(bool up, Outbox& out) {
    m_linkForcedDown = !up;
    update(m_config);
    publish(out);
}

void ManagerCore::setSilent(bool on, Outbox& out) {
    m_faults.silent = on;
    publish(out);
}

void ManagerCore::setNotConnected(bool on, Outbox& out) {
    m_faults.notConnected = on;
    publish(out);
}

void ManagerCore::setRefuse(bool on) {
    m_faults.refuse = on;
}

size_t ManagerCore::burstState(uint32_t first, uint32_t count, Outbox& out) {
    if (eventsSuppressed()) {
        return 0;
    }
    const size_t before = out.size();
    const qel_state inForce = m_state;
    for (uint64_t i = first; i < uint64_t{first} + count; ++i) {
        const uint8_t address[QEL_IP_ADDRESS_SIZE] = {10, static_cast<uint8_t>(i >> 16),
                                                      static_cast<uint8_t>(i >> 8),
                                                      static_cast<uint8_t>(i)};
        std::memcpy(m_state.ip_address, address, QEL_IP_ADDRESS_SIZE);
        for (auto& session : m_sessions) {
            sendEvent(session, QEL_EVENT_STATE, out);
        }
    }
    m_state = inForce;
    return out.size() - before;
}
