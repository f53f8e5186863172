// The portable part of the socket layer: address records and their texts,
// and opening a connected socket from the platform's calls. The platform's
// socket calls are in kes_socket_<platform>.cpp; both translate each failing
// call into a kes_result right where it fails.
#include "kes_socket.h"

#include "kes_platform.h"
#include "kes_text.h"

#include <cstring>

namespace {

constexpr char k_all_ones[] = "255.255.255.255";
// Room for the dotted text of any IPv4 address and its terminator.
constexpr size_t k_dotted_size = 16;

// Host and network order of a port: the network's is big-endian whatever
// the machine's is.
uint16_t to_network(uint16_t port) {
    uint16_t out = 0;
    const uint8_t bytes[2] = {static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port & 0xFF)};
    std::memcpy(&out, bytes, sizeof out);
    return out;
}

uint16_t to_host(uint16_t port) {
    uint8_t bytes[2];
    std::memcpy(bytes, &port, sizeof bytes);
    return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

} // namespace

kes_result kes_ipv4_parse(const char* text, uint32_t* address) {
    if (text == nullptr || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    if (std::strcmp(text, k_all_ones) == 0) {
        *address = 0xFFFFFFFFu;
        return KES_SUCCESS;
    }
    if (!kes_platform_ipv4_parse(text, address)) {
        return KES_INVALIDPARAMETER;
    }
    return KES_SUCCESS;
}

kes_result kes_address_set_ipv4(kes_address* address, uint16_t family, const char* text,
                                uint16_t port) {
    if (address == nullptr || text == nullptr || family == 0) {
        return KES_INVALIDPARAMETER;
    }
    if (family != KES_FAMILY_IPV4) {
        return KES_NOTSUPPORTED;
    }
    std::memset(address, 0, sizeof *address);
    uint32_t ipv4 = 0;
    kes_result result = kes_ipv4_parse(text, &ipv4);
    if (result != KES_SUCCESS) {
        return result;
    }
    address->address.family = KES_FAMILY_IPV4;
    address->address.port = to_network(port);
    address->address.ipv4 = ipv4;
    address->length = sizeof(kes_sockaddr);
    return KES_SUCCESS;
}

uint16_t kes_address_port(const kes_address* address) {
    if (address == nullptr || address->address.family != KES_FAMILY_IPV4) {
        return 0;
    }
    return to_host(address->address.port);
}

char* kes_ipv4_to_text(const kes_address* address, char* buffer, size_t size) {
    if (address == nullptr || buffer == nullptr || size == 0 ||
        address->address.family != KES_FAMILY_IPV4) {
        return nullptr;
    }
    char text[k_dotted_size];
    if (!kes_platform_ipv4_text(address->address.ipv4, text, sizeof text)) {
        return nullptr;
    }
    if (kes_strlcpy(buffer, text, size) >= size) {
        return nullptr;
    }
    return buffer;
}

char* kes_address_to_text(const kes_address* address, char* buffer, size_t size) {
    if (buffer == nullptr) {
        return nullptr;
    }
    if (size == 0) {
        return buffer;
    }
    buffer[0] = '\0';
    char dotted[k_dotted_size];
    if (kes_ipv4_to_text(address, dotted, sizeof dotted) == nullptr ||
        std::strlen(dotted) >= size) {
        return buffer;
    }
    kes_snprintf(buffer, size, "%s:%u (len=%u)", dotted, unsigned{kes_address_port(address)},
                 unsigned{address->length});
    return buffer;
}

kes_result kes_socket_open_connected(kes_socket* sock, const kes_address* address) {
    if (sock == nullptr || address == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    kes_result result = kes_socket_open_udp(sock, address->address.family);
    if (result != KES_SUCCESS) {
        return result;
    }
    result = kes_socket_connect(*sock, address);
    if (result != KES_SUCCESS) {
        kes_socket_close(sock);
    }
    return result;
}
