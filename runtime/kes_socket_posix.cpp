// The socket layer's POSIX calls: IPv4 UDP sockets over the BSD socket
// calls. Each failing platform call is translated into a kes_result right
// where it fails, so errno never leaves this file. Three outcomes are fixed
// whatever the kernel reports natively, because the control protocol depends
// on them: an empty non-blocking receive is KES_TIMEDOUT, a receive after the
// connected peer's port was unreachable is KES_CONNRESET, and a datagram
// larger than the buffer is KES_MSGSIZE.
#include "kes_socket.h"

#include "kes_platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(sizeof(kes_sockaddr) == sizeof(sockaddr_in), "kes_sockaddr is a sockaddr_in");
static_assert(offsetof(kes_sockaddr, family) == offsetof(sockaddr_in, sin_family),
              "family at the platform's place");
static_assert(offsetof(kes_sockaddr, port) == offsetof(sockaddr_in, sin_port),
              "port at the platform's place");
static_assert(offsetof(kes_sockaddr, ipv4) == offsetof(sockaddr_in, sin_addr),
              "address at the platform's place");
static_assert(KES_FAMILY_IPV4 == AF_INET, "IPv4 family is the platform's");
static_assert(KES_FAMILY_IPV6 == AF_INET6, "IPv6 family is the platform's");

namespace {

// The platform form of a record. Only the bytes the record holds are copied;
// the size handed to the platform is the record's length byte, capped at what
// the record can hold (a length of 0 lets the platform reject the address).
struct platform_address {
    sockaddr_in in;
    socklen_t length;
};

platform_address to_platform(const kes_address* address) {
    platform_address out{};
    std::memcpy(&out.in, &address->address, sizeof out.in);
    out.length = address->length < sizeof out.in ? address->length : sizeof out.in;
    return out;
}

// Stores a platform address the kernel returned. An address larger than the
// record (another family than IPv4) cannot be represented: the record is
// cleared and false returned.
bool from_platform(const sockaddr_storage& storage, socklen_t length, kes_address* address) {
    std::memset(address, 0, sizeof *address);
    if (length > sizeof(kes_sockaddr)) {
        return false;
    }
    std::memcpy(&address->address, &storage, length);
    address->length = static_cast<uint8_t>(length);
    return true;
}

// The outcome of a failed receive. A connected socket learns of the peer's
// unreachable port as ECONNREFUSED; callers are promised KES_CONNRESET.
kes_result receive_failure(int error) {
    if (error == ECONNREFUSED) {
        return KES_CONNRESET;
    }
    return kes_result_from_system(static_cast<uint32_t>(error));
}

// Milliseconds for poll(): no span waits without limit, a span with a
// negative part polls once, else seconds * 1000 + ceil(microseconds / 1000),
// saturated so that a huge span never wraps into "no limit".
int poll_milliseconds(const kes_time* timeout) {
    if (timeout == nullptr) {
        return -1;
    }
    if (timeout->seconds < 0 || timeout->microseconds < 0) {
        return 0;
    }
    constexpr int64_t k_max = INT_MAX;
    if (timeout->seconds > k_max / 1000) {
        return INT_MAX;
    }
    int64_t ms = timeout->seconds * 1000 + (int64_t{timeout->microseconds} + 999) / 1000;
    return ms > k_max ? INT_MAX : static_cast<int>(ms);
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
    return inet_ntop(AF_INET, &ipv4, buffer, static_cast<socklen_t>(size)) != nullptr;
}

kes_result kes_socket_open_udp(kes_socket* sock, uint16_t family) {
    if (sock == nullptr || *sock != KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    // An unconnected UDP socket here never reports a port-unreachable
    // condition, so there is nothing to switch off.
    int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        return kes_result_from_errno();
    }
    *sock = fd;
    return KES_SUCCESS;
}

kes_result kes_socket_connect(kes_socket sock, const kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // Once connected, the kernel reports the peer's unreachable port on the
    // socket by itself.
    platform_address peer = to_platform(address);
    if (connect(sock, reinterpret_cast<const sockaddr*>(&peer.in), peer.length) != 0) {
        return kes_result_from_errno();
    }
    return KES_SUCCESS;
}

kes_result kes_socket_bind(kes_socket sock, const kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    platform_address local = to_platform(address);
    if (bind(sock, reinterpret_cast<const sockaddr*>(&local.in), local.length) != 0) {
        return kes_result_from_errno();
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
    // The descriptor is gone after close() whatever it reports, so the handle
    // is invalid from here on either way.
    int failed = close(*sock);
    *sock = KES_INVALID_SOCKET;
    return failed != 0 ? kes_result_from_errno() : KES_SUCCESS;
}

kes_result kes_socket_set_blocking(kes_socket sock, int blocking) {
    if (sock == KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    int flags = fcntl(sock, F_GETFL);
    if (flags < 0) {
        return kes_result_from_errno();
    }
    flags = blocking != 0 ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    if (fcntl(sock, F_SETFL, flags) != 0) {
        return kes_result_from_errno();
    }
    return KES_SUCCESS;
}

kes_result kes_socket_local_address(kes_socket sock, kes_address* address) {
    if (sock == KES_INVALID_SOCKET || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (getsockname(sock, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        return kes_result_from_errno();
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
    size_t room = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || buffer == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // MSG_TRUNC makes recv() return the datagram's real length, so a cut
    // datagram is seen; the kernel has dropped its rest either way.
    ssize_t received = recv(sock, buffer, room, MSG_TRUNC);
    if (received < 0) {
        return receive_failure(errno);
    }
    if (static_cast<size_t>(received) > room) {
        return KES_MSGSIZE;
    }
    *size = static_cast<size_t>(received);
    return KES_SUCCESS;
}

kes_result kes_socket_recv_from(kes_socket sock, void* buffer, size_t* size, kes_address* from) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    size_t room = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || buffer == nullptr || from == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    ssize_t received =
        recvfrom(sock, buffer, room, MSG_TRUNC, reinterpret_cast<sockaddr*>(&storage), &length);
    if (received < 0) {
        return receive_failure(errno);
    }
    if (static_cast<size_t>(received) > room) {
        return KES_MSGSIZE;
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
    size_t length = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || data == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // A pending port-unreachable error on a connected socket comes back here
    // as ECONNREFUSED, which the table turns into KES_CONNREFUSED.
    ssize_t sent = send(sock, data, length, MSG_NOSIGNAL);
    if (sent < 0) {
        return kes_result_from_errno();
    }
    *size = static_cast<size_t>(sent);
    return KES_SUCCESS;
}

kes_result kes_socket_send_to(kes_socket sock, const void* data, size_t* size,
                              const kes_address* to) {
    if (size == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    size_t length = *size;
    *size = 0;
    if (sock == KES_INVALID_SOCKET || data == nullptr || to == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    platform_address peer = to_platform(to);
    ssize_t sent = sendto(sock, data, length, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&peer.in), peer.length);
    if (sent < 0) {
        return kes_result_from_errno();
    }
    *size = static_cast<size_t>(sent);
    return KES_SUCCESS;
}

kes_result kes_socket_wait_readable(kes_socket sock, const kes_time* timeout) {
    if (sock == KES_INVALID_SOCKET) {
        return KES_INVALIDPARAMETER;
    }
    pollfd entry{};
    entry.fd = sock;
    entry.events = POLLIN;
    int ready = poll(&entry, 1, poll_milliseconds(timeout));
    if (ready < 0) {
        return kes_result_from_errno();
    }
    if (ready == 0) {
        return KES_TIMEDOUT;
    }
    if ((entry.revents & POLLNVAL) != 0) {
        errno = EBADF;
        return kes_result_from_errno();
    }
    // POLLERR and POLLHUP count as readable: the receive that follows
    // reports the error itself.
    return KES_SUCCESS;
}
