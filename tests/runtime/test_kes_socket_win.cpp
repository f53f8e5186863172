// The socket layer on Windows: handles that are no sockets, sockets that no
// child process inherits, a closed handle, a send without a peer, the
// families a socket may have, the addresses of unbound and IPv6 sockets,
// and the environment that starts Winsock.
#include "kes_env.h"
#include "kes_socket.h"

#include "socket_support.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>

namespace {

using namespace qeltest::sockets;

// A handle that is no socket (any more) reaches Winsock, and its answer
// comes back translated.
TEST(KesSocketArguments, AHandleThatIsNoSocketIsTranslated) {
    kes_socket s = KES_INVALID_SOCKET;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&s, KES_FAMILY_IPV4));
    const kes_socket stale = s;
    ASSERT_EQ(KES_SUCCESS, kes_socket_close(&s));
    kes_address address = loopback(9);
    char buffer[8] = {};
    size_t size = 0;
    const Call calls[] = {
        {"connect", [&] { return kes_socket_connect(stale, &address); }, false},
        {"bind", [&] { return kes_socket_bind(stale, &address); }, false},
        {"set_blocking", [&] { return kes_socket_set_blocking(stale, 0); }, false},
        {"local_address", [&] { return kes_socket_local_address(stale, &address); }, false},
        {"recv", [&] { return kes_socket_recv(stale, buffer, &size); }, true},
        {"recv_from", [&] { return kes_socket_recv_from(stale, buffer, &size, &address); }, true},
        {"send", [&] { return kes_socket_send(stale, buffer, &size); }, true},
        {"send_to", [&] { return kes_socket_send_to(stale, buffer, &size, &address); }, true},
        {"wait_readable", [&] { return kes_socket_wait_readable(stale, &k_poll_once); }, false},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        size = sizeof buffer;
        EXPECT_EQ(KES_NOTSOCK, call.run());
        if (call.clears_size) {
            EXPECT_EQ(0u, size);
        }
    }
}

TEST(KesSocketOpen, OpensAUdpSocketNoChildInherits) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    ASSERT_NE(KES_INVALID_SOCKET, sock.fd);
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(sock.fd), &flags));
    EXPECT_EQ(0u, flags & HANDLE_FLAG_INHERIT);
    int type = 0;
    int length = sizeof type;
    ASSERT_EQ(0, getsockopt(sock.fd, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length));
    EXPECT_EQ(SOCK_DGRAM, type);
}

// Winsock would pick a protocol for an unspecified family by itself; the
// layer refuses every family but the two it knows, as POSIX does.
TEST(KesSocketOpen, AFamilyOtherThanIpv4OrIpv6IsNotSupported) {
    const uint16_t families[] = {0, 1, 17, 0xFFFF};
    for (uint16_t family : families) {
        SCOPED_TRACE(family);
        kes_socket sock = KES_INVALID_SOCKET;
        EXPECT_EQ(KES_AFNOSUPPORT, kes_socket_open_udp(&sock, family));
        EXPECT_EQ(KES_INVALID_SOCKET, sock);
    }
}

TEST(KesSocketClose, ClosesAndInvalidatesTheHandle) {
    kes_socket sock = KES_INVALID_SOCKET;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock, KES_FAMILY_IPV4));
    const kes_socket closed = sock;
    EXPECT_EQ(KES_SUCCESS, kes_socket_close(&sock));
    EXPECT_EQ(KES_INVALID_SOCKET, sock);
    int type = 0;
    int length = sizeof type;
    EXPECT_EQ(SOCKET_ERROR,
              getsockopt(closed, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length));
    EXPECT_EQ(WSAENOTSOCK, WSAGetLastError());
}

// Non-blocking, a receive with nothing waiting returns at once; blocking
// again, the next datagram is received as it comes.
TEST_F(LoopbackPair, SwitchesNonBlockingMode) {
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(m_receiver.fd, 0));
    char buffer[16];
    size_t size = sizeof buffer;
    EXPECT_EQ(KES_TIMEDOUT, kes_socket_recv(m_receiver.fd, buffer, &size));
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(m_receiver.fd, 7));
    ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "now"));
    size = sizeof buffer;
    ASSERT_EQ(KES_SUCCESS, kes_socket_recv(m_receiver.fd, buffer, &size));
    EXPECT_EQ("now", std::string(buffer, size));
}

// Windows refuses a send on an unconnected socket as not connected
// (WSAENOTCONN), wine as an invalid argument (WSAEINVAL).
TEST_F(LoopbackPair, SendWithoutPeerIsRefused) {
    size_t size = 3;
    const kes_result result = kes_socket_send(m_receiver.fd, "abc", &size);
    EXPECT_TRUE(result == KES_NOTCONN || result == KES_INVALIDPARAMETER) << result;
    EXPECT_EQ(0u, size);
}

// Winsock gives no address of a socket that is not bound (WSAEINVAL), so
// the IPv6 socket is bound first; its address does not fit the record.
TEST(KesSocketBind, AnIpv6AddressTheRecordCannotHoldIsNotSupported) {
    Socket sock;
    if (kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV6) != KES_SUCCESS) {
        GTEST_SKIP() << "no IPv6 sockets here";
    }
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    ASSERT_EQ(0, bind(sock.fd, reinterpret_cast<const sockaddr*>(&any), sizeof any));
    kes_address local;
    std::memset(&local, 0xAB, sizeof local);
    EXPECT_EQ(KES_NOTSUPPORTED, kes_socket_local_address(sock.fd, &local));
    const kes_address cleared{};
    EXPECT_EQ(0, std::memcmp(&local, &cleared, sizeof local));
}

TEST(KesSocketBind, AnUnboundSocketHasNoAddress) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    kes_address local{};
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_socket_local_address(sock.fd, &local));
}

// Windows leaves the unreachable port to the receive: a send goes out, and
// the next receive reports it.
TEST_F(UnreachablePeer, ASendGoesOutAndTheNextReceiveReportsIt) {
    ASSERT_EQ(KES_SUCCESS, send_text(m_sock.fd, "pong"));
    char buffer[16];
    size_t size = sizeof buffer;
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
    EXPECT_EQ(0u, size);
}

// The socket stays usable: each new datagram to the closed port is reported
// again, to a blocking receive too (which would otherwise wait for ever
// where the report is only pending, as under wine).
TEST_F(UnreachablePeer, EveryNewDatagramIsReportedAgainToAReceive) {
    char buffer[16];
    size_t size = sizeof buffer;
    ASSERT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
    ASSERT_NO_FATAL_FAILURE(provoke());
    kes_address from{};
    size = sizeof buffer;
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv_from(m_sock.fd, buffer, &size, &from));
    ASSERT_NO_FATAL_FAILURE(provoke());
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(m_sock.fd, 0));
    size = sizeof buffer;
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
}

// The environment brackets Winsock: acquisitions nest, and the sockets of
// the process keep working after the last release, because the test
// program holds a start of its own (as the panel's environment does for
// the whole run).
TEST(KesEnv, StartsWinsockForEachAcquisition) {
    kes_env* first = nullptr;
    kes_env* second = nullptr;
    ASSERT_EQ(KES_SUCCESS, kes_env_acquire(&first));
    ASSERT_EQ(KES_SUCCESS, kes_env_acquire(&second));
    EXPECT_EQ(KES_SUCCESS, kes_env_release(second));
    EXPECT_EQ(KES_SUCCESS, kes_env_release(first));
    Socket sock;
    EXPECT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
}

} // namespace
