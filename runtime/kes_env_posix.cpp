// The socket layer's start-up and shut-down on POSIX: BSD sockets need
// neither.
#include "kes_platform.h"

kes_result kes_platform_sockets_start() {
    return KES_SUCCESS;
}

void kes_platform_sockets_stop() {}
