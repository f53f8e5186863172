// A scripted protocol peer for tests: a UDP socket on 127.0.0.1 that a test
// drives step by step. It takes what the client sent (bytes and decoded header
// fields), sends crafted datagrams (well-formed or not) and can close its port
// so that the client's connected socket reports the port unreachable.
#pragma once

#include "kes_socket.h"
#include "tesk2_message.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qeltest {

// One datagram as the peer received it, with its header fields decoded
// (fields of a datagram shorter than the header read as 0).
struct Datagram {
    std::vector<uint8_t> bytes;
    uint16_t protocol = 0;
    uint16_t length = 0;
    uint16_t seqnum = 0;
    uint16_t opcode = 0;
    uint16_t status = 0;
    uint16_t clientPort = 0;
    std::array<uint8_t, 8> clientId{};
    kes_address from{};

    std::vector<uint8_t> body() const;
};

// The bytes of a message: header fields as given (length = 20 + body unless
// `length` is set) followed by the body.
std::vector<uint8_t> messageBytes(uint16_t protocol, uint16_t seqnum, uint16_t opcode,
                                  uint16_t status, const std::vector<uint8_t>& body = {},
                                  int length = -1);

class ScriptedPeer {
public:
    // Binds 127.0.0.1 on an ephemeral port, or on `port` (0: ephemeral).
    explicit ScriptedPeer(uint16_t port = 0);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    uint16_t port() const { return m_port; }
    bool isOpen() const { return m_socket != KES_INVALID_SOCKET; }

    // A non-blocking UDP socket connected to this peer, as a client would
    // open it; the peer sends to it from now on. The caller closes it.
    kes_socket openClientSocket();

    // Where the peer sends (set by openClientSocket and by every receive).
    void setDestination(const kes_address& destination) { m_destination = destination; }

    // Takes the next datagram the client sent, waiting at most `waitMs`.
    bool receive(Datagram& out, int waitMs = 2000);
    // True when nothing is waiting now.
    bool idle();
    // Drops everything waiting.
    void drain();

    void sendBytes(const std::vector<uint8_t>& bytes);
    void send(uint16_t status, uint16_t seqnum, uint16_t opcode,
              const std::vector<uint8_t>& body = {}, uint16_t protocol = 0x1001);
    void sendMessage(const tesk2_message& message);
    // Answers `request` with its seqnum and opcode.
    void reply(const Datagram& request, uint16_t status, const std::vector<uint8_t>& body = {});

    // Closes the port: the client's next send or receive learns it is gone.
    void close();

private:
    kes_socket m_socket = KES_INVALID_SOCKET;
    uint16_t m_port = 0;
    kes_address m_destination{};
};

// Waits at most `waitMs` until `sock` has something to read.
bool waitReadable(kes_socket sock, int waitMs = 2000);

// Waits at most `waitMs` until `sock`, connected to a port that was closed
// and sent a datagram to since, shows the port unreachable. Wine keeps quiet
// about the first datagram's report and gives only those of later ones:
// where it does not show soon, empty datagrams are sent until it does.
bool waitUnreachable(kes_socket sock, int waitMs = 2000);

} // namespace qeltest
