// The socket layer's Windows calls: IPv4 UDP sockets over Winsock 2.2 (the
// environment starts it). Each failing call is translated into a kes_result
// right where it fails, from the Winsock error of the calling thread. The
// outcomes the control protocol depends on are the POSIX side's: an empty
// non-blocking receive is KES_TIMEDOUT, a receive after the connected peer's
// port was unreachable is KES_CONNRESET, and a datagram larger than the
// buffer is KES_MSGSIZE (Winsock drops its rest, as the kernel does there).
#include "kes_socket.h"

#include "kes_platform.h"

#include <winsock2.h>

#include <mswsock.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>

static_assert(sizeof(kes_sockaddr) == sizeof(sockaddr_in), "kes_sockaddr is a sockaddr_in");
static_assert(offsetof(kes_sockaddr, family) == offsetof(sockaddr_in, sin_family),
              "family at the platform's place");
static_assert(offsetof(kes_sockaddr, port) == offsetof(sockaddr_in, sin_port),
              "port at the platform's place");
static_assert(offsetof(kes_sockaddr, ipv4) == offsetof(sockaddr_in, sin_addr),
              "address at the platform's place");
static_assert(KES_FAMILY_IPV4 == AF_INET, "IPv4 family is the platform's");
static_assert(KES_FAMILY_IPV6 == AF_INET6, "IPv6 family is the platform's");
static_assert(KES_INVALID_SOCKET == INVALID_SOCKET, "the invalid handle is the platform's");
static_assert(sizeof(kes_socket) == sizeof(SOCKET), "a handle is a SOCKET");

namespace {

// The platform form of a record, as on POSIX: only the bytes the record
// holds, the size capped at what it can hold.
struct platform_address {
    sockaddr_in in;
    int length;
};

platform_address to_platform(const kes_address* address) {
    platform_address out{};
    std::memcpy(&out.in, &address->address, sizeof out.in);
    out.length =
        address->length < sizeof out.in ? address->length : static_cast<int>(sizeof out.in);
    return out;
}

// Stores an address Winsock returned; one larger than the record (another
// family than IPv4) clears the record and gives false.
bool from_platform(const sockaddr_storage& storage, int length, kes_address* address) {
    std::memset(address, 0, sizeof *address);
    if (length < 0 || static_cast<size_t>(length) > sizeof(kes_sockaddr)) {
        return false;
    }
    std::memcpy(&address->address, &storage, static_cast<size_t>(length));
    address->length = static_cast<uint8_t>(length);
    return true;
}

kes_result last_error() {
    return kes_result_from_system(static_cast<uint32_t>(WSAGetLastError()));
}

// True for the two errors by which a connected socket learns that its
// peer's port is unreachable: Windows reports WSAECONNRESET; other Winsock
// implementations (wine's) report WSAECONNREFUSED.
bool peer_unreachable(int error) {
    return error == WSAECONNRESET || error == WSAECONNREFUSED;
}

// The socket's pending error, read and cleared; 0 when there is none or it
// cannot be read.
int pending_error(SOCKET sock) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return 0;
    }
    return error;
}

// Some Winsock implementations (wine's) keep the peer's unreachable port as
// a pending socket error that no receive reports: a receive blocks or says
// "would block". It is taken before each receive, so that the receive
// reports it as Windows' own would. Windows leaves no pending error there.
// KES_SUCCESS when nothing is pending.
kes_result take_pending(SOCKET sock) {
    const int pending = pending_error(sock);
    if (pending == 0) {
        return KES_SUCCESS;
    }
    if (peer_unreachable(pending)) {
        return KES_CONNRESET;
    }
    return kes_result_from_system(static_cast<uint32_t>(pending));
}

// The outcome of a failed receive: the peer's unreachable port, however
// Winsock says it, is KES_CONNRESET.
kes_result receive_failure() {
    const int error = WSAGetLastError();
    if (peer_unreachable(error)) {
        return KES_CONNRESET;
    }
    return kes_result_from_system(static_cast<uint32_t>(error));
}

// Whether a datagram socket reports a peer's unreachable port. Windows does
// so on unconnected sockets too, where nobody asked: it is switched off when
// a socket is opened and on when it is connected. A stack without the
// switch keeps its own behaviour.
void report_unreachable(SOCKET sock, BOOL report) {
    DWORD returned = 0;
    WSAIoctl(sock, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
}

// A room in bytes as Winsock's int length.
int winsock_length(size_t size) {
    return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

// The span as a select() time-out: rounded up to whole milliseconds, as the
// POSIX wait does, and capped at about three years.
timeval select_timeout(const kes_time* timeout) {
    timeval out{0, 0};
    if (timeout->seconds < 0 || timeout->microseconds < 0) {
        return out;
    }
    constexpr int64_t k_longest = 100000000;
    int64_t ms = timeout->seconds > k_longest
                     ? k_longest * 1000
                     : timeout->seconds * 1000 + (int64_t{timeout->microseconds} + 999) / 1000;
    out.tv_sec = static_cast<long>(ms / 1000);
    out.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return out;
}

} // namespace

bool kes_platform_ipv4_parse(const char* text, uint32_t* address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text, &parsed) != 1) {
        return false;
    }
    *address = parsed.s_addr;
    return true;
}

bool kes_platform_ipv4_text(uint32_t address, char* buffer, size_t size) {
    in_addr ipv4{};
    ipv4.s_addr = address;
    return inet_ntop(AF_INET, &ipv4, buffer, size) != nullptr;
}

kes_result kes_socket_open_udp(kes_socket* sock, uint16_t family) {
    if (sock == nullptr || *sock != KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    // Winsock would pick a protocol of its own for an unspecified family.
    if (family != AF_INET && family != AF_INET6) {
        return KES_AFNOSUPPORT;
    }
    const SOCKET made =
        WSASocketW(family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (made == INVALID_SOCKET) {
        return last_error();
    }
    report_unreachable(made, FALSE);
    *sock = made;
    return KES_SUCCESS;
}

kes_result kes_socket_connect(kes_socket sock, const kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    platform_address peer = to_platform(address);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&peer.in), peer.length) != 0) {
        return last_error();
    }
    report_unreachable(sock, TRUE);
    return KES_SUCCESS;
}

kes_result kes_socket_bind(kes_socket sock, const kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    platform_address local = to_platform(address);
    if (bind(sock, reinterpret_cast<const sockaddr*>(&local.in), local.length) != 0) {
        return last_error();
    }
    return KES_SUCCESS;
}

kes_result kes_socket_close(kes_socket* sock) {
    if (sock == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (*sock == KES_INVALID_SOCKET) {
        return KES_SUCCESS;
    }
    // The handle is gone after closesocket() whatever it reports.
    const int failed = closesocket(*sock);
    *sock = KES_INVALID_SOCKET;
    return failed != 0 ? last_error() : KES_SUCCESS;
}

kes_result kes_socket_set_blocking(kes_socket sock, int blocking) {
    if (sock == KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    u_long non_blocking = blocking != 0 ? 0 : 1;
    if (ioctlsocket(sock, FIONBIO, &non_blocking) != 0) {
        return last_error();
    }
    return KES_SUCCESS;
}

kes_result kes_socket_local_address(kes_socket sock, kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    sockaddr_storage storage{};
    int length = sizeof storage;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return last_error();
    }
    if (!from_platform(storage, length, address)) {
        return KES_NOTSUPPORTED;
    }
    return KES_SUCCESS;
}

kes_result kes_socket_recv(kes_socket sock, void* buffer, size_t* size) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const int room = winsock_length(*size);
    *size = 0;
    if (sock == KES_INVALID_SOCKET || buffer == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const kes_result pending = take_pending(sock);
    if (pending != KES_SUCCESS) {
        return pending;
    }
    // A datagram larger than the room fails with WSAEMSGSIZE, its rest lost.
    const int received = recv(sock, static_cast<char*>(buffer), room, 0);
    if (received < 0) {
        return receive_failure();
    }
    *size = static_cast<size_t>(received);
    return KES_SUCCESS;
}

kes_result kes_socket_recv_from(kes_socket sock, void* buffer, size_t* size, kes_address* from) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const int room = winsock_length(*size);
    *size = 0;
    if (sock == KES_INVALID_SOCKET || buffer == nullptr || from == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const kes_result pending = take_pending(sock);
    if (pending != KES_SUCCESS) {
        return pending;
    }
    sockaddr_storage storage{};
    int length = sizeof storage;
    const int received = recvfrom(sock, static_cast<char*>(buffer), room, 0,
                                  reinterpret_cast<sockaddr*>(&storage), &length);
    if (received < 0) {
        return receive_failure();
    }
    // A sender the record cannot hold leaves `from` cleared; the datagram is
    // still delivered rather than lost.
    from_platform(storage, length, from);
    *size = static_cast<size_t>(received);
    return KES_SUCCESS;
}

kes_result kes_socket_send(kes_socket sock, const void* data, size_t* size) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const size_t length = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || data == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (length > static_cast<size_t>(INT_MAX)) {
        return KES_MSGSIZE;
    }
    // Winsock leaves the unreachable port to the next receive; should a send
    // report it, WSAECONNRESET (or WSAECONNREFUSED) gives KES_CONNRESET (or
    // KES_CONNREFUSED).
    const int sent = send(sock, static_cast<const char*>(data), static_cast<int>(length), 0);
    if (sent < 0) {
        return last_error();
    }
    *size = static_cast<size_t>(sent);
    return KES_SUCCESS;
}

kes_result kes_socket_send_to(kes_socket sock, const void* data, size_t* size,
                              const kes_address* to) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    const size_t length = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || data == nullptr || to == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (length > static_cast<size_t>(INT_MAX)) {
        return KES_MSGSIZE;
    }
    platform_address peer = to_platform(to);
    const int sent = sendto(sock, static_cast<const char*>(data), static_cast<int>(length), 0,
                            reinterpret_cast<const sockaddr*>(&peer.in), peer.length);
    if (sent < 0) {
        return last_error();
    }
    *size = static_cast<size_t>(sent);
    return KES_SUCCESS;
}

kes_result kes_socket_wait_readable(kes_socket sock, const kes_time* timeout) {
    if (sock == KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    fd_set readable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&failed);
    FD_SET(sock, &readable);
    // Some Winsock implementations show a pending error (the peer's port
    // unreachable) only in the exception set: it counts as readable, and
    // the receive that follows reports the error itself.
    FD_SET(sock, &failed);
    timeval span{0, 0};
    if (timeout != nullptr) {
        span = select_timeout(timeout);
    }
    const int ready = select(0, &readable, nullptr, &failed, timeout != nullptr ? &span : nullptr);
    if (ready == SOCKET_ERROR) {
        return last_error();
    }
    if (ready == 0) {
        return KES_TIMEDOUT;
    }
    return KES_SUCCESS;
}
