// Wire helpers for the manager's tests: requests as a panel would send them
// and the decoded form of what the manager puts in its outbox.
#pragma once

#include "kes_socket.h"
#include "manager_core.h"
#include "qel_codec.h"
#include "qel_records.h"
#include "tesk2_message.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qeltest {

// A fake panel: its source port (also written into client_port) and its
// 8-byte client id.
struct FakeClient {
    uint16_t port;
    std::array<uint8_t, 8> id{};

    kes_address address() const {
        kes_address a{};
        kes_address_set_ipv4(&a, KES_FAMILY_IPV4, "127.0.0.1", port);
        return a;
    }
};

inline std::vector<uint8_t> messageOf(const tesk2_message& message) {
    const uint8_t* data = tesk2_message_data(&message);
    return std::vector<uint8_t>(data, data + tesk2_message_length(&message));
}

// A request from `client`: header with seqnum and opcode, then `body`.
inline std::vector<uint8_t> requestBytes(const FakeClient& client, uint16_t seqnum, uint16_t opcode,
                                         const std::vector<uint8_t>& body = {}) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
    tesk2_client_id id{};
    std::memcpy(id.id, client.id.data(), 8);
    id.port = client.port;
    tesk2_message_set_client_id(&message, &id);
    tesk2_message_set_seqnum(&message, seqnum);
    if (!body.empty()) {
        tesk2_message_append(&message, body.data(), body.size());
    }
    return messageOf(message);
}

inline std::vector<uint8_t> connectBody(uint16_t version = QEL_CLIENT_API_VERSION) {
    return {0x00, 0x01, static_cast<uint8_t>(version >> 8), static_cast<uint8_t>(version)};
}

inline std::vector<uint8_t> configBody(const qel_config& config) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
    qel_config_encode(&config, &message);
    const uint8_t* body = tesk2_message_payload(&message);
    return std::vector<uint8_t>(body, body + tesk2_message_body_size(&message));
}

// One datagram of the outbox, as a message the codec can decode.
struct Sent {
    uint16_t toPort = 0;
    std::vector<uint8_t> bytes;
    tesk2_message message{};

    explicit Sent(const ManagerDatagram& datagram) : toPort(kes_address_port(&datagram.to)) {
        bytes = datagram.bytes;
        tesk2_message_init(&message);
        std::memcpy(tesk2_message_data(&message), bytes.data(),
                    bytes.size() < TESK2_DATAGRAM_MAX ? bytes.size() : TESK2_DATAGRAM_MAX);
    }
    uint16_t protocol() const { return tesk2_message_protocol(&message); }
    uint16_t length() const { return tesk2_message_length(&message); }
    uint16_t seqnum() const { return tesk2_message_seqnum(&message); }
    uint16_t opcode() const { return tesk2_message_opcode(&message); }
    uint16_t status() const { return tesk2_message_status(&message); }
    uint16_t clientPort() const { return static_cast<uint16_t>((bytes[10] << 8) | bytes[11]); }
    std::array<uint8_t, 8> clientId() const {
        std::array<uint8_t, 8> id{};
        std::memcpy(id.data(), bytes.data() + 12, 8);
        return id;
    }
    qel_state state() const {
        qel_state s;
        std::memset(&s, 0xAA, sizeof s);
        qel_state_decode(&message, &s);
        return s;
    }
    kes_result decodeState(qel_state& s) const { return qel_state_decode(&message, &s); }
    kes_result decodeOptions(qel_options& o) const { return qel_options_decode(&message, &o); }
    kes_result decodeInfo(qel_info& i) const { return qel_info_decode(&message, &i); }
};

inline std::vector<Sent> sentOf(const Outbox& outbox) {
    std::vector<Sent> out;
    for (const auto& datagram : outbox) {
        out.emplace_back(datagram);
    }
    return out;
}

inline bool sameState(const qel_state& a, const qel_state& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool sameConfig(const qel_config& a, const qel_config& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace qeltest
