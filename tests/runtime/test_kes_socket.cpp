// The UDP socket layer: address records and their texts, argument checks,
// and real datagrams on 127.0.0.1 (ports chosen by the system) for the
// outcomes the control protocol depends on, on every platform
// (test_kes_socket_<platform>.cpp has what only one platform has).
#include "kes_socket.h"

#include "scripted_peer.h"
#include "socket_support.h"
#include "test_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace qeltest::sockets;

// ---------------------------------------------------------------- addresses

TEST(KesIpv4Parse, AcceptsDottedTextOnly) {
    struct Case {
        const char* text;
        kes_result result;
        uint8_t bytes[4]; // the address in network order
    };
    const Case cases[] = {
        {"127.0.0.1", KES_SUCCESS, {127, 0, 0, 1}},
        {"1.2.3.4", KES_SUCCESS, {1, 2, 3, 4}},
        {"255.255.255.255", KES_SUCCESS, {255, 255, 255, 255}},
        {"0.0.0.0", KES_SUCCESS, {0, 0, 0, 0}},
        {"localhost", KES_INVALIDPARAMETER, {}},
        {"", KES_INVALIDPARAMETER, {}},
        {"1.2.3", KES_INVALIDPARAMETER, {}},
        {"256.1.1.1", KES_INVALIDPARAMETER, {}},
        {"1.2.3.4.5", KES_INVALIDPARAMETER, {}},
        {" 1.2.3.4", KES_INVALIDPARAMETER, {}},
        {"1.2.3.4 ", KES_INVALIDPARAMETER, {}},
        {"::1", KES_INVALIDPARAMETER, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t address = 0x5A5A5A5A;
        ASSERT_EQ(c.result, kes_ipv4_parse(c.text, &address));
        if (c.result == KES_SUCCESS) {
            EXPECT_EQ(0, std::memcmp(&address, c.bytes, sizeof address));
        }
    }
}

TEST(KesIpv4Parse, MissingArgumentIsInvalid) {
    uint32_t address = 0;
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_ipv4_parse(nullptr, &address));
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_ipv4_parse("127.0.0.1", nullptr));
}

TEST(KesAddressSetIpv4, Outcomes) {
    struct Case {
        uint16_t family;
        const char* text;
        uint16_t port;
        kes_result result;
        const char* printed; // kes_address_to_text afterwards, on success
    };
    const Case cases[] = {
        {0, "127.0.0.1", 8899, KES_INVALIDPARAMETER, nullptr},
        {KES_FAMILY_IPV6, "127.0.0.1", 8899, KES_NOTSUPPORTED, nullptr},
        {KES_FAMILY_IPV4, "127.0.0.1", 8899, KES_SUCCESS, "127.0.0.1:8899 (len=16)"},
        {KES_FAMILY_IPV4, "255.255.255.255", 65535, KES_SUCCESS, "255.255.255.255:65535 (len=16)"},
        {KES_FAMILY_IPV4, "10.20.30.40", 0, KES_SUCCESS, "10.20.30.40:0 (len=16)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.family) + " " + c.text);
        kes_address address;
        std::memset(&address, 0xAB, sizeof address);
        ASSERT_EQ(c.result, kes_address_set_ipv4(&address, c.family, c.text, c.port));
        if (c.printed != nullptr) {
            EXPECT_EQ(c.printed, to_text(address));
            EXPECT_EQ(c.port, kes_address_port(&address));
        }
    }
}

TEST(KesAddressSetIpv4, RecordHasThePlatformLayout) {
    kes_address address;
    std::memset(&address, 0xAB, sizeof address);
    ASSERT_EQ(KES_SUCCESS, kes_address_set_ipv4(&address, KES_FAMILY_IPV4, "192.168.1.2", 8899));
    EXPECT_EQ(16, address.length);
    EXPECT_EQ(KES_FAMILY_IPV4, address.address.family);
    const uint8_t port[2] = {0x22, 0xC3}; // 8899 in network order
    EXPECT_EQ(0, std::memcmp(&address.address.port, port, sizeof port));
    const uint8_t ipv4[4] = {192, 168, 1, 2};
    EXPECT_EQ(0, std::memcmp(&address.address.ipv4, ipv4, sizeof ipv4));
    const uint8_t zero[8] = {};
    EXPECT_EQ(0, std::memcmp(address.address.zero, zero, sizeof zero));
}

TEST(KesAddressSetIpv4, UnparsableTextLeavesRecordCleared) {
    for (const char* text : {"localhost", "1.2.3", ""}) {
        SCOPED_TRACE(text);
        kes_address address;
        std::memset(&address, 0xAB, sizeof address);
        ASSERT_EQ(KES_INVALIDPARAMETER,
                  kes_address_set_ipv4(&address, KES_FAMILY_IPV4, text, 8899));
        const kes_address cleared{};
        EXPECT_EQ(0, std::memcmp(&address, &cleared, sizeof address));
    }
}

TEST(KesAddressSetIpv4, MissingArgumentIsInvalid) {
    kes_address address{};
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_address_set_ipv4(nullptr, KES_FAMILY_IPV4, "127.0.0.1", 1));
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_address_set_ipv4(&address, KES_FAMILY_IPV4, nullptr, 1));
}

TEST(KesAddressPort, OnlyIpv4HasAPort) {
    const kes_address ipv4 = loopback(8899);
    kes_address ipv6 = ipv4;
    ipv6.address.family = KES_FAMILY_IPV6;
    const kes_address empty{};
    EXPECT_EQ(8899, kes_address_port(&ipv4));
    EXPECT_EQ(0, kes_address_port(&ipv6));
    EXPECT_EQ(0, kes_address_port(&empty));
    EXPECT_EQ(0, kes_address_port(nullptr));
}

TEST(KesIpv4ToText, ReturnsBufferOnlyWhenTheTextFits) {
    const kes_address ipv4 = loopback(8899);
    kes_address ipv6 = ipv4;
    ipv6.address.family = KES_FAMILY_IPV6;
    const kes_address empty{};
    struct Case {
        const char* name;
        const kes_address* address;
        size_t size;
        const char* text; // nullptr: the call returns nullptr
    };
    const Case cases[] = {
        {"exact fit", &ipv4, 10, "127.0.0.1"}, {"roomy", &ipv4, 64, "127.0.0.1"},
        {"one byte short", &ipv4, 9, nullptr}, {"one byte", &ipv4, 1, nullptr},
        {"no room", &ipv4, 0, nullptr},        {"IPv6 family", &ipv6, 64, nullptr},
        {"empty record", &empty, 64, nullptr}, {"missing address", nullptr, 64, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[64];
        char* result = kes_ipv4_to_text(c.address, buffer, c.size);
        if (c.text == nullptr) {
            EXPECT_EQ(nullptr, result);
        } else {
            ASSERT_EQ(buffer, result);
            EXPECT_STREQ(c.text, buffer);
        }
    }
    EXPECT_EQ(nullptr, kes_ipv4_to_text(&ipv4, nullptr, 64));
}

TEST(KesAddressToText, Texts) {
    kes_address widest{};
    ASSERT_EQ(KES_SUCCESS,
              kes_address_set_ipv4(&widest, KES_FAMILY_IPV4, "255.255.255.255", 65535));
    widest.length = 255;
    const kes_address ipv4 = loopback(8899);
    kes_address ipv6 = ipv4;
    ipv6.address.family = KES_FAMILY_IPV6;
    const kes_address empty{};
    struct Case {
        const char* name;
        const kes_address* address;
        size_t size;
        const char* text;
    };
    const Case cases[] = {
        {"loopback", &ipv4, KES_ADDRESS_TEXT_SIZE, "127.0.0.1:8899 (len=16)"},
        {"widest fits the constant", &widest, KES_ADDRESS_TEXT_SIZE,
         "255.255.255.255:65535 (len=255)"},
        {"all-zero record", &empty, KES_ADDRESS_TEXT_SIZE, ""},
        {"IPv6 family", &ipv6, KES_ADDRESS_TEXT_SIZE, ""},
        {"missing address", nullptr, KES_ADDRESS_TEXT_SIZE, ""},
        {"dotted text does not fit", &ipv4, 9, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char buffer[KES_ADDRESS_TEXT_SIZE];
        std::memset(buffer, 'x', sizeof buffer);
        ASSERT_EQ(buffer, kes_address_to_text(c.address, buffer, c.size));
        EXPECT_STREQ(c.text, buffer);
    }
    EXPECT_EQ(nullptr, kes_address_to_text(&ipv4, nullptr, KES_ADDRESS_TEXT_SIZE));
}

// ---------------------------------------------------------------- arguments

TEST(KesSocketArguments, InvalidHandleIsRejectedBeforeAnyPlatformCall) {
    // The platform would answer -1 with EBADF, which is not 3.
    const kes_socket none = KES_INVALID_SOCKET;
    kes_address address = loopback(9);
    char buffer[8] = {};
    size_t size = 0;
    const Call calls[] = {
        {"connect", [&] { return kes_socket_connect(none, &address); }, false},
        {"bind", [&] { return kes_socket_bind(none, &address); }, false},
        {"set_blocking", [&] { return kes_socket_set_blocking(none, 0); }, false},
        {"local_address", [&] { return kes_socket_local_address(none, &address); }, false},
        {"recv", [&] { return kes_socket_recv(none, buffer, &size); }, true},
        {"recv_from", [&] { return kes_socket_recv_from(none, buffer, &size, &address); }, true},
        {"send", [&] { return kes_socket_send(none, buffer, &size); }, true},
        {"send_to", [&] { return kes_socket_send_to(none, buffer, &size, &address); }, true},
        {"wait_readable", [&] { return kes_socket_wait_readable(none, &k_poll_once); }, false},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        size = sizeof buffer;
        EXPECT_EQ(KES_INVALIDPARAMETER, call.run());
        if (call.clears_size) {
            EXPECT_EQ(0u, size);
        }
    }
}

TEST(KesSocketArguments, MissingPointerIsInvalid) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    const kes_socket s = sock.fd;
    kes_address address = loopback(9);
    char buffer[8] = {};
    size_t size = 0;
    kes_socket other = KES_INVALID_SOCKET;
    const Call calls[] = {
        {"open_udp", [&] { return kes_socket_open_udp(nullptr, KES_FAMILY_IPV4); }, false},
        {"open_connected handle", [&] { return kes_socket_open_connected(nullptr, &address); },
         false},
        {"open_connected address", [&] { return kes_socket_open_connected(&other, nullptr); },
         false},
        {"close", [&] { return kes_socket_close(nullptr); }, false},
        {"connect", [&] { return kes_socket_connect(s, nullptr); }, false},
        {"bind", [&] { return kes_socket_bind(s, nullptr); }, false},
        {"local_address", [&] { return kes_socket_local_address(s, nullptr); }, false},
        {"recv buffer", [&] { return kes_socket_recv(s, nullptr, &size); }, true},
        {"recv size", [&] { return kes_socket_recv(s, buffer, nullptr); }, false},
        {"recv_from buffer", [&] { return kes_socket_recv_from(s, nullptr, &size, &address); },
         true},
        {"recv_from size", [&] { return kes_socket_recv_from(s, buffer, nullptr, &address); },
         false},
        {"recv_from from", [&] { return kes_socket_recv_from(s, buffer, &size, nullptr); }, true},
        {"send data", [&] { return kes_socket_send(s, nullptr, &size); }, true},
        {"send size", [&] { return kes_socket_send(s, buffer, nullptr); }, false},
        {"send_to data", [&] { return kes_socket_send_to(s, nullptr, &size, &address); }, true},
        {"send_to size", [&] { return kes_socket_send_to(s, buffer, nullptr, &address); }, false},
        {"send_to to", [&] { return kes_socket_send_to(s, buffer, &size, nullptr); }, true},
    };
    const size_t descriptors = qeltest::openHandles();
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        size = sizeof buffer;
        EXPECT_EQ(KES_INVALIDPARAMETER, call.run());
        if (call.clears_size) {
            EXPECT_EQ(0u, size);
        }
    }
    EXPECT_EQ(KES_INVALID_SOCKET, other);
    EXPECT_EQ(descriptors, qeltest::openHandles());
}

// ---------------------------------------------------------------- open and close

TEST(KesSocketOpen, HandleInUseIsRefusedAndNothingOpens) {
    Socket sock;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    const kes_socket before = sock.fd;
    const kes_address address = loopback(9);
    const size_t descriptors = qeltest::openHandles();
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_socket_open_udp(&sock.fd, KES_FAMILY_IPV4));
    EXPECT_EQ(KES_INVALIDPARAMETER, kes_socket_open_connected(&sock.fd, &address));
    EXPECT_EQ(before, sock.fd);
    EXPECT_EQ(descriptors, qeltest::openHandles());
}

TEST(KesSocketOpen, FailureLeavesHandleInvalid) {
    const size_t descriptors = qeltest::openHandles();
    kes_socket sock = KES_INVALID_SOCKET;
    EXPECT_EQ(KES_AFNOSUPPORT, kes_socket_open_udp(&sock, 0));
    EXPECT_EQ(KES_INVALID_SOCKET, sock);
    const kes_address empty{};
    EXPECT_EQ(KES_AFNOSUPPORT, kes_socket_open_connected(&sock, &empty));
    EXPECT_EQ(KES_INVALID_SOCKET, sock);
    EXPECT_EQ(descriptors, qeltest::openHandles());
}

// The socket opens but the connect fails (a broadcast peer without
// permission to broadcast): the connect's code, and no socket left open.
TEST(KesSocketOpen, FailedConnectClosesTheSocket) {
    kes_address broadcast{};
    ASSERT_EQ(KES_SUCCESS, kes_address_set_ipv4(&broadcast, KES_FAMILY_IPV4, "255.255.255.255", 9));
    const size_t descriptors = qeltest::openHandles();
    kes_socket sock = KES_INVALID_SOCKET;
    // Broadcast without permission is refused where a route exists; on a
    // machine with no default route (a private network namespace, say) the
    // network is unreachable first. Either way the connect fails.
    const kes_result result = kes_socket_open_connected(&sock, &broadcast);
    EXPECT_TRUE(result == KES_ACCES || result == KES_NETUNREACH) << result;
    EXPECT_EQ(KES_INVALID_SOCKET, sock);
    EXPECT_EQ(descriptors, qeltest::openHandles());
}

// ---------------------------------------------------------------- local setup

TEST(KesSocketBind, LocalAddressAfterBindingPortZero) {
    Socket sock;
    uint16_t port = 0;
    ASSERT_NO_FATAL_FAILURE(open_bound(&sock, &port));
    kes_address local;
    std::memset(&local, 0xAB, sizeof local);
    ASSERT_EQ(KES_SUCCESS, kes_socket_local_address(sock.fd, &local));
    EXPECT_EQ(16, local.length);
    EXPECT_EQ("127.0.0.1:" + std::to_string(port) + " (len=16)", to_text(local));
    const uint8_t zero[8] = {};
    EXPECT_EQ(0, std::memcmp(local.address.zero, zero, sizeof zero));
}

TEST(KesSocketBind, PortInUseIsTranslated) {
    Socket first;
    uint16_t port = 0;
    ASSERT_NO_FATAL_FAILURE(open_bound(&first, &port));
    Socket second;
    ASSERT_EQ(KES_SUCCESS, kes_socket_open_udp(&second.fd, KES_FAMILY_IPV4));
    const kes_address taken = loopback(port);
    EXPECT_EQ(KES_ADDRINUSE, kes_socket_bind(second.fd, &taken));
}

// ---------------------------------------------------------------- datagrams

TEST_F(LoopbackPair, DatagramArrivesWhole) {
    ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "hello"));
    std::string data;
    ASSERT_EQ(KES_SUCCESS, receive(m_receiver.fd, 64, &data));
    EXPECT_EQ("hello", data);
}

TEST_F(LoopbackPair, EmptyDatagramIsASuccessOfSizeZero) {
    size_t size = 0;
    ASSERT_EQ(KES_SUCCESS, kes_socket_send(m_sender.fd, "", &size));
    EXPECT_EQ(0u, size);
    std::string data = "stale";
    ASSERT_EQ(KES_SUCCESS, receive(m_receiver.fd, 16, &data));
    EXPECT_EQ("", data);
}

// A datagram that does not fit is reported and lost; the next one arrives
// intact.
TEST_F(LoopbackPair, OversizedDatagramIsMsgSizeAndTheNextArrives) {
    struct Case {
        size_t room;
        size_t length;
        kes_result result;
    };
    const Case cases[] = {
        {10, 10, KES_SUCCESS}, {10, 11, KES_MSGSIZE},     {10, 1400, KES_MSGSIZE},
        {0, 1, KES_MSGSIZE},   {1472, 1472, KES_SUCCESS}, {1472, 1473, KES_MSGSIZE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " bytes into " + std::to_string(c.room));
        const std::string datagram(c.length, 'd');
        ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, datagram));
        ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "next"));
        std::string data;
        ASSERT_EQ(c.result, receive(m_receiver.fd, c.room, &data));
        if (c.result == KES_SUCCESS) {
            EXPECT_EQ(datagram, data);
        }
        ASSERT_EQ(KES_SUCCESS, receive(m_receiver.fd, 64, &data));
        EXPECT_EQ("next", data);
    }
}

TEST_F(LoopbackPair, OversizedDatagramIsMsgSizeForRecvFromToo) {
    ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "too long"));
    ASSERT_EQ(KES_SUCCESS, kes_socket_wait_readable(m_receiver.fd, &k_bound));
    char buffer[4];
    size_t size = sizeof buffer;
    kes_address from{};
    EXPECT_EQ(KES_MSGSIZE, kes_socket_recv_from(m_receiver.fd, buffer, &size, &from));
    EXPECT_EQ(0u, size);
}

TEST_F(LoopbackPair, RecvFromReportsTheSender) {
    kes_address sender{};
    ASSERT_EQ(KES_SUCCESS, kes_socket_local_address(m_sender.fd, &sender));
    ASSERT_NE(0, kes_address_port(&sender));
    ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "who"));
    ASSERT_EQ(KES_SUCCESS, kes_socket_wait_readable(m_receiver.fd, &k_bound));
    char buffer[16];
    size_t size = sizeof buffer;
    kes_address from;
    std::memset(&from, 0xAB, sizeof from);
    ASSERT_EQ(KES_SUCCESS, kes_socket_recv_from(m_receiver.fd, buffer, &size, &from));
    EXPECT_EQ("who", std::string(buffer, size));
    EXPECT_EQ(kes_address_port(&sender), kes_address_port(&from));
    EXPECT_EQ("127.0.0.1:" + std::to_string(kes_address_port(&sender)) + " (len=16)",
              to_text(from));
}

TEST_F(LoopbackPair, SendToAnswersTheSender) {
    kes_address sender{};
    ASSERT_EQ(KES_SUCCESS, kes_socket_local_address(m_sender.fd, &sender));
    const std::string answer = "answer";
    size_t size = answer.size();
    ASSERT_EQ(KES_SUCCESS, kes_socket_send_to(m_receiver.fd, answer.data(), &size, &sender));
    EXPECT_EQ(answer.size(), size);
    std::string data;
    ASSERT_EQ(KES_SUCCESS, receive(m_sender.fd, 64, &data));
    EXPECT_EQ(answer, data);
}

TEST_F(LoopbackPair, NonBlockingRecvWithNothingWaitingTimesOut) {
    ASSERT_EQ(KES_SUCCESS, kes_socket_set_blocking(m_receiver.fd, 0));
    char buffer[16];
    kes_address from{};
    size_t size = sizeof buffer;
    EXPECT_EQ(KES_TIMEDOUT, kes_socket_recv(m_receiver.fd, buffer, &size));
    EXPECT_EQ(0u, size);
    size = sizeof buffer;
    EXPECT_EQ(KES_TIMEDOUT, kes_socket_recv_from(m_receiver.fd, buffer, &size, &from));
    EXPECT_EQ(0u, size);
}

TEST_F(LoopbackPair, WaitReadableWithNothingWaitingTimesOut) {
    const kes_time spans[] = {{0, 0}, {0, 1}, {-1, 0}, {0, -1}, {-5, -5}};
    for (const kes_time& span : spans) {
        SCOPED_TRACE(std::to_string(span.seconds) + "s " + std::to_string(span.microseconds) +
                     "us");
        EXPECT_EQ(KES_TIMEDOUT, kes_socket_wait_readable(m_receiver.fd, &span));
    }
}

TEST_F(LoopbackPair, WaitReadableSeesAWaitingDatagram) {
    ASSERT_EQ(KES_SUCCESS, send_text(m_sender.fd, "x"));
    ASSERT_EQ(KES_SUCCESS, kes_socket_wait_readable(m_receiver.fd, &k_bound));
    // The datagram is still there, so every span returns at once. The
    // largest span must not overflow on its way to milliseconds (the
    // sanitizer build reports it if it does).
    const kes_time huge{std::numeric_limits<int64_t>::max(), 999999};
    const kes_time* spans[] = {&k_poll_once, &huge, nullptr};
    for (const kes_time* span : spans) {
        EXPECT_EQ(KES_SUCCESS, kes_socket_wait_readable(m_receiver.fd, span));
    }
}

// Without a span the wait lasts until a datagram comes, however late.
TEST_F(LoopbackPair, UnboundedWaitReturnsWhenADatagramArrives) {
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        send_text(m_sender.fd, "late");
    });
    const kes_result result = kes_socket_wait_readable(m_receiver.fd, nullptr);
    sender.join();
    EXPECT_EQ(KES_SUCCESS, result);
}

// ---------------------------------------------------------------- unreachable peer

TEST_F(UnreachablePeer, RecvIsConnReset) {
    char buffer[16];
    size_t size = sizeof buffer;
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv(m_sock.fd, buffer, &size));
    EXPECT_EQ(0u, size);
}

TEST_F(UnreachablePeer, RecvFromIsConnReset) {
    char buffer[16];
    size_t size = sizeof buffer;
    kes_address from{};
    EXPECT_EQ(KES_CONNRESET, kes_socket_recv_from(m_sock.fd, buffer, &size, &from));
    EXPECT_EQ(0u, size);
}

} // namespace
