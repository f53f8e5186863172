// Helpers of the socket layer's tests: sockets that close themselves, the
// loopback address, and datagrams sent and received whole.
#pragma once

#include "kes_socket.h"

#include "scripted_peer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qeltest {
namespace sockets {

// Upper bound for waits on loopback traffic that arrives at once; a passing
// run never comes near it.
constexpr kes_time k_bound{5, 0};
constexpr kes_time k_poll_once{0, 0};

// Closes its handle when it goes.
struct Socket {
    kes_socket fd = KES_INVALID_SOCKET;
    Socket() = default;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() { kes_socket_close(&fd); }
};

inline kes_address loopback(uint16_t port) {
    kes_address address{};
    EXPECT_EQ(KES_SUCCESS, kes_address_set_ipv4(&address, KES_FAMILY_IPV4, "127.0.0.1", port));
    return address;
}

inline std::string to_text(const kes_address& address) {
    char text[KES_ADDRESS_TEXT_SIZE];
    return kes_address_to_text(&address, text, sizeof text);
}

// Opens a UDP socket bound to 127.0.0.1 on a port the system picks.
inline void open_bound(Socket* sock, uint16_t* port) {
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock->fd, KES_FAMILY_IPV4));
    kes_address any_port = loopback(0);
    ASSERT_EQ(KES_SUCCESS, kes_socket_bind(sock->fd, &any_port));
    kes_address local{};
    ASSERT_EQ(KES_SUCCESS, kes_socket_local_address(sock->fd, &local));
    *port = kes_address_port(&local);
    ASSERT_NE(0, *port);
}

// Sends `data` as one datagram; a success must report every byte sent.
inline kes_result send_text(kes_socket sock, const std::string& data) {
    size_t size = data.size();
    kes_result result = kes_socket_send(sock, data.data(), &size);
    EXPECT_EQ(result == KES_SUCCESS ? data.size() : 0u, size);
    return result;
}

// Waits (bounded) until `sock` is readable, then receives one datagram into
// `room` bytes. A guard byte after the room must stay untouched.
inline kes_result receive(kes_socket sock, size_t room, std::string* data) {
    data->clear();
    kes_result waited = kes_socket_wait_readable(sock, &k_bound);
    if (waited != KES_SUCCESS) {
        return waited;
    }
    std::vector<char> buffer(room + 1, '#');
    size_t size = room;
    kes_result result = kes_socket_recv(sock, buffer.data(), &size);
    EXPECT_EQ('#', buffer[room]) << "written past the room";
    if (result != KES_SUCCESS) {
        EXPECT_EQ(0u, size);
        return result;
    }
    EXPECT_LE(size, room);
    data->assign(buffer.data(), size);
    return result;
}

// One call of the layer with its arguments bound, for tables of calls.
struct Call {
    const char* name;
    std::function<kes_result()> run;
    bool clears_size; // a receive or send: *size must be 0 after a failure
};

// A receiver bound on 127.0.0.1 and a sender connected to it.
class LoopbackPair : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(open_bound(&m_receiver, &m_receiver_port));
        const kes_address peer = loopback(m_receiver_port);
        ASSERT_EQ(KES_SUCCESS, kes_socket_open_connected(&m_sender.fd, &peer));
    }

    Socket m_receiver;
    Socket m_sender;
    uint16_t m_receiver_port = 0;
};

// A socket connected to a port that was just closed. Its first datagram
// draws the kernel's port-unreachable answer, which shows as a pending error
// that makes the socket readable (under wine only that of a later one).
class UnreachablePeer : public ::testing::Test {
protected:
    void SetUp() override {
        Socket gone;
        uint16_t port = 0;
        ASSERT_NO_FATAL_FAILURE(open_bound(&gone, &port));
        ASSERT_EQ(KES_SUCCESS, kes_socket_close(&gone.fd));
        const kes_address peer = loopback(port);
        ASSERT_EQ(KES_SUCCESS, kes_socket_open_connected(&m_sock.fd, &peer));
        ASSERT_NO_FATAL_FAILURE(provoke());
    }

    // Sends one datagram and waits (bounded) for the unreachable report.
    void provoke() {
        ASSERT_EQ(KES_SUCCESS, send_text(m_sock.fd, "ping"));
        ASSERT_TRUE(qeltest::waitUnreachable(m_sock.fd, 5000));
    }

    Socket m_sock;
};

} // namespace sockets
} // namespace qeltest
