// The seam between the runtime's portable code and the platform. Each
// function here is implemented once per platform, in the "_posix.cpp" or
// "_win.cpp" file of its facility (runtime/CMakeLists.txt picks the set);
// nothing outside runtime/ includes this header.
#pragma once

#include "kes_result.h"
#include "kes_time.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

// ---- kes_env_<platform>.cpp ------------------------------------------------

// Starts the socket layer for the process: nothing on POSIX; on Windows
// Winsock 2.2 (a failure translated, KES_VERSION when it is not offered).
// Each successful start is matched by one stop.
kes_result kes_platform_sockets_start();
void kes_platform_sockets_stop();

// ---- kes_result_<platform>.cpp ----------------------------------------------

// One entry of the system-error table: a platform error number and its code.
struct kes_system_entry {
    uint32_t error;
    kes_result code;
};

// The platform's system-error table, searched in order by
// kes_result_from_system; *count receives its length.
const kes_system_entry* kes_platform_system_table(size_t* count);

// The calling thread's last platform error number: errno on POSIX, the last
// Windows (and Winsock) error on Windows.
uint32_t kes_platform_last_error();

// ---- kes_time_<platform>.cpp ------------------------------------------------

// The wall-clock time from the platform's clock.
kes_result kes_platform_now(kes_time* t);

// Sleeps for `span` (validated and rounded to whole milliseconds by the
// caller). A sleep cut short by a signal: KES_INTERRUPTED.
kes_result kes_platform_sleep(const kes_time* span);

// The local time of `seconds` since the epoch into *local; false when the
// platform cannot convert it.
bool kes_platform_local_time(int64_t seconds, struct tm* local);

// ---- kes_socket_<platform>.cpp ----------------------------------------------

// Parses dotted IPv4 text with the platform's parser into a network-order
// address; false when it rejects the text.
bool kes_platform_ipv4_parse(const char* text, uint32_t* address);

// The dotted text of a network-order IPv4 address into `buffer` (at least
// 16 bytes); false when the platform cannot write it.
bool kes_platform_ipv4_text(uint32_t address, char* buffer, size_t size);
