// What tests set on the platform, the same way on each: the calling
// thread's error number as the runtime reads it for KES_SYSTEM (errno on
// POSIX, the last Windows error on Windows), and the time zone.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qeltest {

// The platform's "access denied": EACCES, or ERROR_ACCESS_DENIED.
extern const uint32_t k_accessDenied;

void setPlatformError(uint32_t error);

// Starts the platform's sockets for the whole test program (Winsock on
// Windows; nothing to do on POSIX): the tests open sockets without the
// runtime environment, which starts them in the programs. False when they
// do not start.
bool startSockets();
void stopSockets();

// How many descriptors (POSIX) or handles (Windows) the process has open,
// to see that a call opened or left nothing behind.
size_t openHandles();

// Whether a send on a connected socket reports the peer's unreachable port
// (POSIX); Windows reports it to the next receive only.
extern const bool k_sendReportsUnreachable;

// Sets the time zone of the C library's local time to UTC for the rest of
// the process.
void useUtcTimeZone();

} // namespace qeltest
