// A thin layer over IPv4 UDP sockets: addresses, open/connect/close, blocking
// mode, send and receive of single datagrams and a readable-wait. Every
// platform failure comes back as a kes_result; no errno leaves this layer.
#pragma once

#include "kes_result.h"
#include "kes_time.h"

#include <cstddef>
#include <cstdint>

// A socket handle: a descriptor on POSIX, a Winsock SOCKET (pointer-sized)
// on Windows. Address families carry the platform's values.
#if defined(_WIN32)
typedef uintptr_t kes_socket;
constexpr kes_socket KES_INVALID_SOCKET = ~uintptr_t{0};
constexpr uint16_t KES_FAMILY_IPV4 = 2;
constexpr uint16_t KES_FAMILY_IPV6 = 23;
#else
typedef int kes_socket;
constexpr kes_socket KES_INVALID_SOCKET = -1;
constexpr uint16_t KES_FAMILY_IPV4 = 2;
constexpr uint16_t KES_FAMILY_IPV6 = 10;
#endif

// The platform socket address: family in host order, port and IPv4 address in
// network order, 8 zero bytes (16 bytes in all).
struct kes_sockaddr {
    uint16_t family;
    uint16_t port;
    uint32_t ipv4;
    uint8_t zero[8];
};

// A socket address: `length` is the size of the platform address (16 for
// IPv4, 0 for an empty record).
struct kes_address {
    uint8_t length;
    kes_sockaddr address;
};

// Room for kes_address_to_text of any IPv4 address:
// "255.255.255.255:65535 (len=255)" and the terminator.
constexpr size_t KES_ADDRESS_TEXT_SIZE = 32;

// Parses dotted IPv4 text into a network-order address. "255.255.255.255"
// gives the all-ones address; text the platform parser rejects, or a missing
// argument: KES_INVALIDPARAMETER.
kes_result kes_ipv4_parse(const char* text, uint32_t* address);

// Fills `address` with an IPv4 address parsed from `text` and `port` (host
// order). Family 0 or a missing argument: KES_INVALIDPARAMETER; another
// family: KES_NOTSUPPORTED (the record untouched in both cases); unparsable
// text: KES_INVALIDPARAMETER with the record left cleared.
kes_result kes_address_set_ipv4(kes_address* address, uint16_t family, const char* text,
                                uint16_t port);

// The port in host order of an IPv4 address; 0 for any other family or a
// missing address.
uint16_t kes_address_port(const kes_address* address);

// The dotted text of an IPv4 address into `buffer`; returns `buffer` when the
// text fitted, nullptr when it was cut, the address is not IPv4 or an
// argument is missing.
char* kes_ipv4_to_text(const kes_address* address, char* buffer, size_t size);

// "a.b.c.d:port (len=N)" for an IPv4 address; the empty text for any other
// family or when the dotted text does not fit (the rest is cut when only it
// does not fit). Returns `buffer` (nullptr only when there is no buffer).
char* kes_address_to_text(const kes_address* address, char* buffer, size_t size);

// Opens a UDP socket of `family` into *sock, which must be KES_INVALID_SOCKET
// on entry (else KES_INVALIDPARAMETER and nothing is opened). On failure *sock
// stays KES_INVALID_SOCKET. The socket is close-on-exec (on Windows: not
// inherited by child processes). On Windows the environment must be acquired
// (kes_env_acquire starts Winsock); before that: KES_NOTINITIALISED.
kes_result kes_socket_open_udp(kes_socket* sock, uint16_t family);

// Connects the socket to `address`; from then on the socket reports a peer's
// unreachable port (see kes_socket_recv and kes_socket_send).
kes_result kes_socket_connect(kes_socket sock, const kes_address* address);

// kes_socket_open_udp with the address's family, then kes_socket_connect.
// Never leaves an unconnected socket open: on failure *sock is
// KES_INVALID_SOCKET and the connect's code is returned.
kes_result kes_socket_open_connected(kes_socket* sock, const kes_address* address);

// Binds the socket to a local address (servers and test peers).
kes_result kes_socket_bind(kes_socket sock, const kes_address* address);

// Closes a valid handle and sets it to KES_INVALID_SOCKET (also when the
// platform reports a failure, which is returned); closing an invalid handle
// does nothing and succeeds. Missing argument: KES_INVALIDPARAMETER.
kes_result kes_socket_close(kes_socket* sock);

// Switches the socket to blocking (non-zero) or non-blocking (0) mode.
kes_result kes_socket_set_blocking(kes_socket sock, int blocking);

// The socket's local address; the platform's address size goes into `length`.
// An address that is not IPv4: KES_NOTSUPPORTED with the record cleared.
kes_result kes_socket_local_address(kes_socket sock, kes_address* address);

// Receives one datagram of at most *size bytes into `buffer` and sets *size to
// the number received (0 on any failure, argument failures included). Fixed
// outcomes:
//   nothing waiting on a non-blocking socket     KES_TIMEDOUT
//   the connected peer's port was unreachable    KES_CONNRESET
//   the datagram was larger than *size           KES_MSGSIZE (it is lost; the
//                                                next call gets the next one)
kes_result kes_socket_recv(kes_socket sock, void* buffer, size_t* size);

// Windows reports the peer's unreachable port to the next receive only, never
// to a send. Under wine it shows only after a later datagram, as a pending
// socket error: kes_socket_wait_readable counts it as readable, and the next
// receive reports it (KES_CONNRESET).

// kes_socket_recv that also stores the sender's address (unconnected sockets);
// a sender that is not IPv4 leaves `from` cleared.
kes_result kes_socket_recv_from(kes_socket sock, void* buffer, size_t* size, kes_address* from);

// Sends one datagram of *size bytes and sets *size to the number sent (0 on
// any failure). After the connected peer's port was found unreachable:
// KES_CONNREFUSED or KES_CONNRESET on POSIX (on Windows the send goes out and
// the next receive reports it).
kes_result kes_socket_send(kes_socket sock, const void* data, size_t* size);

// Sends one datagram of *size bytes to `to` (unconnected sockets).
kes_result kes_socket_send_to(kes_socket sock, const void* data, size_t* size,
                              const kes_address* to);

// Waits until the socket has a datagram (or a pending error to report) or the
// span `timeout` has passed (nullptr: no limit; {0, 0}: poll once). Returns 0
// when readable, KES_TIMEDOUT when the time ran out, KES_INTERRUPTED when a
// signal cut the wait short, else the translated failure.
kes_result kes_socket_wait_readable(kes_socket sock, const kes_time* timeout);
