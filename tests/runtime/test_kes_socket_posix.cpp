// The socket layer on POSIX: descriptors that are not sockets, close-on-exec,
// the blocking flag, the errno of a closed descriptor and of a send without
// a peer, a signal that cuts a wait short, and an IPv6 socket's address.
#include "kes_socket.h"

#include "socket_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace qeltest::sockets;

// A descriptor that is not a socket reaches the platform, and its answer
// comes back translated.
TEST(KesSocketArguments, NonSocketDescriptorIsTranslated) {
    int pipe_ends[2];
    ASSERT_EQ(0, pipe(pipe_ends));
    const kes_socket s = pipe_ends[0];
    kes_address address = loopback(9);
    char buffer[8] = {};
    size_t size = 0;
    const Call calls[] = {
        {"connect", [&] { return kes_socket_connect(s, &address); }, false},
        {"bind", [&] { return kes_socket_bind(s, &address); }, false},
        {"local_address", [&] { return kes_socket_local_address(s, &address); }, false},
        {"recv", [&] { return kes_socket_recv(s, buffer, &size); }, true},
        {"recv_from", [&] { return kes_socket_recv_from(s, buffer, &size, &address); }, true},
        {"send", [&] { return kes_socket_send(s, buffer, &size); }, true},
        {"send_to", [&] { return kes_socket_send_to(s, buffer, &size, &address); }, true},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        size = sizeof buffer;
        EXPECT_EQ(KES_NOTSOCK, call.run());
        if (call.clears_size) {
            EXPECT_EQ(0u, size);
        }
    }
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

TEST(KesSocketOpen, OpensCloseOnExecUdpSocket) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    ASSERT_NE(KES_INVALID_SOCKET, sock.fd);
    EXPECT_NE(0, fcntl(sock.fd, F_GETFD) & FD_CLOEXEC);
    int value = 0;
    socklen_t length = sizeof value;
    ASSERT_EQ(0, getsockopt(sock.fd, SOL_SOCKET, SO_TYPE, &value, &length));
    EXPECT_EQ(SOCK_DGRAM, value);
    ASSERT_EQ(0, getsockopt(sock.fd, SOL_SOCKET, SO_PROTOCOL, &value, &length));
    EXPECT_EQ(IPPROTO_UDP, value);
}

TEST(KesSocketClose, ClosesAndInvalidatesTheHandle) {
    kes_socket sock = KES_INVALID_SOCKET;
    EXPECT_EQ(KES_SUCCESS, kes_socket_close(&sock));
    EXPECT_EQ(KES_INVALID_SOCKET, sock);

    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock, KES_FAMILY_IPV4));
    const int fd = sock;
    EXPECT_EQ(KES_SUCCESS, kes_socket_close(&sock));
    EXPECT_EQ(KES_INVALID_SOCKET, sock);
    errno = 0;
    EXPECT_EQ(-1, fcntl(fd, F_GETFD));
    EXPECT_EQ(EBADF, errno);
}

TEST(KesSocketSetBlocking, SwitchesNonBlockingMode) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(sock.fd, 0));
    EXPECT_NE(0, fcntl(sock.fd, F_GETFL) & O_NONBLOCK);
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(sock.fd, 7));
    EXPECT_EQ(0, fcntl(sock.fd, F_GETFL) & O_NONBLOCK);
}

TEST_F(LoopbackPair, SendWithoutPeerIsTranslated) {
    size_t size = 3;
    EXPECT_EQ(KES_DESTADDRREQ, kes_socket_send(m_receiver.fd, "abc", &size));
    EXPECT_EQ(0u, size);
}

TEST(KesSocketWaitReadable, ClosedDescriptorIsTranslated) {
    kes_socket sock = KES_INVALID_SOCKET;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock, KES_FAMILY_IPV4));
    const kes_socket stale = sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_close(&sock));
    EXPECT_EQ(KES_BADF, kes_socket_wait_readable(stale, &k_poll_once));
}

void on_signal(int) {}

// A signal that cuts the wait short is KES_INTERRUPTED. The signal is sent
// again and again until the wait has returned, so one of them lands inside it.
TEST(KesSocketWaitReadable, SignalInterruptsTheWait) {
    Socket sock;
    uint16_t port = 0;
    ASSERT_NO_FATAL_FAILURE(open_bound(&sock, &port));

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));

    std::atomic<bool> done{false};
    const pthread_t waiter = pthread_self();
    std::thread interrupter([&] {
        while (!done.load()) {
            pthread_kill(waiter, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const kes_result result = kes_socket_wait_readable(sock.fd, &k_bound);
    done = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(KES_INTERRUPTED, result);
}

TEST(KesSocketBind, AddressTheRecordCannotHoldIsNotSupported) {
    Socket sock;
    if (kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV6) != KES_SUCCESS) {
        GTEST_SKIP() << "no IPv6 sockets here";
    }
    kes_address local;
    std::memset(&local, 0xAB, sizeof local);
    EXPECT_EQ(KES_NOTSUPPORTED, kes_socket_local_address(sock.fd, &local));
    const kes_address cleared{};
    EXPECT_EQ(0, std::memcmp(&local, &cleared, sizeof local));
}

TEST_F(UnreachablePeer, SendIsConnRefusedOrConnReset) {
    size_t size = 4;
    const kes_result result = kes_socket_send(m_sock.fd, "pong", &size);
    EXPECT_TRUE(result == KES_CONNREFUSED || result == KES_CONNRESET) << result;
    EXPECT_EQ(0u, size);
}

// The socket stays usable: each new datagram to the closed port is reported
// again, to a receive and to a send alike.
TEST_F(UnreachablePeer, EveryNewDatagramIsReportedAgain) {
    char buffer[16];
    size_t size = sizeof buffer;
    ASSERT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
    ASSERT_NO_FATAL_FAILURE(provoke());
    size = 4;
    const kes_result result = kes_socket_send(m_sock.fd, "pong", &size);
    EXPECT_TRUE(result == KES_CONNREFUSED || result == KES_CONNRESET) << result;
    ASSERT_NO_FATAL_FAILURE(provoke());
    size = sizeof buffer;
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
}

} // namespace
