// The socket layer's start-up and shut-down on Windows: Winsock 2.2, counted
// by Winsock itself, so every start is matched by one clean-up.
#include "kes_platform.h"

#include <winsock2.h>

kes_result kes_platform_sockets_start() {
    WSADATA data{};
    // WSAStartup returns its error rather than setting the last error.
    const int failed = WSAStartup(MAKEWORD(2, 2), &data);
    if (failed != 0) {
        return kes_result_from_system(static_cast<uint32_t>(failed));
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
        WSACleanup();
        return KES_VERSION;
    }
    return KES_SUCCESS;
}

void kes_platform_sockets_stop() {
    WSACleanup();
}
