// The scripted peer works on real loopback sockets through the runtime's own
// socket layer.
#include "scripted_peer.h"

#include <cstdio>
#include <cstdlib>

namespace qeltest {

namespace {

uint16_t readU16(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes.size() >= at + 2 ? static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]) : 0;
}

void putU16(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value >> 8));
    bytes.push_back(static_cast<uint8_t>(value));
}

[[noreturn]] void fail(const char* what, kes_result result) {
    std::fprintf(stderr, "scripted peer: %s failed with %s\n", what, kes_result_name(result));
    std::abort();
}

} // namespace

std::vector<uint8_t> Datagram::body() const {
    return bytes.size() > TESK2_HEADER_SIZE
               ? std::vector<uint8_t>(bytes.begin() + TESK2_HEADER_SIZE, bytes.end())
               : std::vector<uint8_t>();
}

std::vector<uint8_t> messageBytes(uint16_t protocol, uint16_t seqnum, uint16_t opcode,
                                  uint16_t status, const std::vector<uint8_t>& body, int length) {
    std::vector<uint8_t> bytes;
    putU16(bytes, protocol);
    putU16(bytes, static_cast<uint16_t>(length >= 0 ? length : TESK2_HEADER_SIZE + body.size()));
    putU16(bytes, seqnum);
    putU16(bytes, opcode);
    putU16(bytes, status);
    putU16(bytes, 0); // client_port
    bytes.insert(bytes.end(), 8, 0);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

ScriptedPeer::ScriptedPeer(uint16_t port) {
    kes_address local{};
    kes_result result = kes_address_set_ipv4(&local, KES_FAMILY_IPV4, "127.0.0.1", port);
    if (result == KES_SUCCESS) {
        result = kes_socket_open_udp(&m_socket, KES_FAMILY_IPV4);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_bind(m_socket, &local);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_local_address(m_socket, &local);
    }
    if (result != KES_SUCCESS) {
        fail("bind", result);
    }
    m_port = kes_address_port(&local);
}

ScriptedPeer::~ScriptedPeer() {
    close();
}

kes_socket ScriptedPeer::openClientSocket() {
    kes_address peer{};
    kes_socket sock = KES_INVALID_SOCKET;
    kes_result result = kes_address_set_ipv4(&peer, KES_FAMILY_IPV4, "127.0.0.1", m_port);
    if (result == KES_SUCCESS) {
        result = kes_socket_open_connected(&sock, &peer);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_set_blocking(sock, 0);
    }
    if (result == KES_SUCCESS) {
        result = kes_socket_local_address(sock, &m_destination);
    }
    if (result != KES_SUCCESS) {
        fail("client socket", result);
    }
    return sock;
}

bool ScriptedPeer::receive(Datagram& out, int waitMs) {
    if (!isOpen() || !waitReadable(m_socket, waitMs)) {
        return false;
    }
    std::vector<uint8_t> buffer(65536);
    size_t size = buffer.size();
    kes_address from{};
    if (kes_socket_recv_from(m_socket, buffer.data(), &size, &from) != KES_SUCCESS) {
        return false;
    }
    buffer.resize(size);
    out = Datagram{};
    out.bytes = buffer;
    if (size >= TESK2_HEADER_SIZE) {
        out.protocol = readU16(buffer, TESK2_OFFSET_PROTOCOL);
        out.length = readU16(buffer, TESK2_OFFSET_LENGTH);
        out.seqnum = readU16(buffer, TESK2_OFFSET_SEQNUM);
        out.opcode = readU16(buffer, TESK2_OFFSET_OPCODE);
        out.status = readU16(buffer, TESK2_OFFSET_STATUS);
        out.clientPort = readU16(buffer, TESK2_OFFSET_CLIENT_PORT);
        for (size_t i = 0; i < out.clientId.size(); ++i) {
            out.clientId[i] = buffer[TESK2_OFFSET_CLIENT_ID + i];
        }
    }
    out.from = from;
    m_destination = from;
    return true;
}

bool ScriptedPeer::idle() {
    kes_time poll{0, 0};
    return !isOpen() || kes_socket_wait_readable(m_socket, &poll) != KES_SUCCESS;
}

void ScriptedPeer::drain() {
    Datagram ignored;
    while (!idle() && receive(ignored, 0)) {
    }
}

void ScriptedPeer::sendBytes(const std::vector<uint8_t>& bytes) {
    static const uint8_t k_empty = 0;
    size_t size = bytes.size();
    const uint8_t* data = bytes.empty() ? &k_empty : bytes.data();
    kes_result result = kes_socket_send_to(m_socket, data, &size, &m_destination);
    if (result != KES_SUCCESS) {
        fail("send", result);
    }
}

void ScriptedPeer::send(uint16_t status, uint16_t seqnum, uint16_t opcode,
                        const std::vector<uint8_t>& body, uint16_t protocol) {
    sendBytes(messageBytes(protocol, seqnum, opcode, status, body));
}

void ScriptedPeer::sendMessage(const tesk2_message& message) {
    const uint8_t* data = tesk2_message_data(&message);
    sendBytes(std::vector<uint8_t>(data, data + tesk2_message_length(&message)));
}

void ScriptedPeer::reply(const Datagram& request, uint16_t status,
                         const std::vector<uint8_t>& body) {
    send(status, request.seqnum, request.opcode, body, request.protocol);
}

void ScriptedPeer::close() {
    kes_socket_close(&m_socket);
}

bool waitReadable(kes_socket sock, int waitMs) {
    kes_time span{waitMs / 1000, (waitMs % 1000) * 1000};
    return kes_socket_wait_readable(sock, &span) == KES_SUCCESS;
}

bool waitUnreachable(kes_socket sock, int waitMs) {
    constexpr int k_stepMs = 100;
    for (int waited = 0; waited < waitMs; waited += k_stepMs) {
        if (waitReadable(sock, k_stepMs)) {
            return true;
        }
        size_t size = 0;
        kes_socket_send(sock, "", &size);
    }
    return false;
}

} // namespace qeltest
