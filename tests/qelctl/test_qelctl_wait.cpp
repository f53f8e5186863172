// qelctl's wait for the manager socket or the waker, on each platform: what
// woke it, and that the waker's stop and tick are seen once and then drained.
#include "qelctl_session.h"

#include "kes_socket.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

// A bound loopback socket that can send a datagram to itself.
class SelfSocket {
public:
    SelfSocket() {
        kes_address any;
        EXPECT_EQ(KES_SUCCESS, kes_socket_open_udp(&m_sock, KES_FAMILY_IPV4));
        EXPECT_EQ(KES_SUCCESS, kes_address_set_ipv4(&any, KES_FAMILY_IPV4, "127.0.0.1", 0));
        EXPECT_EQ(KES_SUCCESS, kes_socket_bind(m_sock, &any));
        EXPECT_EQ(KES_SUCCESS, kes_socket_local_address(m_sock, &m_address));
    }
    ~SelfSocket() { kes_socket_close(&m_sock); }
    SelfSocket(const SelfSocket&) = delete;
    SelfSocket& operator=(const SelfSocket&) = delete;

    kes_socket get() const { return m_sock; }
    void sendToSelf() {
        const char byte = 'x';
        size_t size = 1;
        ASSERT_EQ(KES_SUCCESS, kes_socket_send_to(m_sock, &byte, &size, &m_address));
    }

private:
    kes_socket m_sock = KES_INVALID_SOCKET;
    kes_address m_address{};
};

// A bound that would fail the test by its time limit if the wait used it.
constexpr int k_long = 600000;

TEST(QelctlWait, NothingReadyEndsWithTheTimeAndNotWoken) {
    SelfSocket sock;
    qelctl::Waker waker;
    ASSERT_TRUE(waker.valid());
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), &waker, 0));
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), nullptr, 0));
}

TEST(QelctlWait, AStopWakesTheWaitOnceWithItsSignal) {
    SelfSocket sock;
    qelctl::Waker waker;
    ASSERT_TRUE(waker.valid());
    waker.stop(SIGTERM);
    EXPECT_TRUE(qelctl::waitSocketOrWaker(sock.get(), &waker, k_long));
    EXPECT_EQ(waker.stopSignal(), SIGTERM);
    EXPECT_EQ(waker.drain(), SIGTERM);
    // Drained: nothing wakes the next wait, but the stop is remembered.
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), &waker, 0));
    EXPECT_EQ(waker.drain(), SIGTERM);
}

TEST(QelctlWait, ATickWakesTheWaitWithoutAStop) {
    SelfSocket sock;
    qelctl::Waker waker;
    ASSERT_TRUE(waker.valid());
    waker.tick();
    waker.tick();
    EXPECT_TRUE(qelctl::waitSocketOrWaker(sock.get(), &waker, k_long));
    EXPECT_EQ(waker.drain(), 0);
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), &waker, 0));
}

TEST(QelctlWait, ADatagramEndsTheWaitWithoutWaking) {
    SelfSocket sock;
    qelctl::Waker waker;
    ASSERT_TRUE(waker.valid());
    sock.sendToSelf();
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), &waker, k_long));
    EXPECT_FALSE(qelctl::waitSocketOrWaker(sock.get(), nullptr, k_long));
    EXPECT_EQ(waker.drain(), 0);
}

} // namespace
