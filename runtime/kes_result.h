// Result codes of the platform runtime, the control protocol and the manager
// client, with their names and texts, and the translation of platform error
// numbers (errno values) into codes. One table is the only place codes become text.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int32_t kes_result;

constexpr kes_result KES_SUCCESS = 0;
constexpr kes_result KES_DONE = 1;
constexpr kes_result KES_SYSTEM = 2;
constexpr kes_result KES_INVALIDPARAMETER = 3;
constexpr kes_result KES_INVALIDDATA = 4;
constexpr kes_result KES_INVALIDSTATE = 5;
constexpr kes_result KES_NOMEMORY = 6;
constexpr kes_result KES_INTERRUPTED = 7;
constexpr kes_result KES_TRUNCATED = 8;
constexpr kes_result KES_NOTSUPPORTED = 9;
constexpr kes_result KES_TIMEDOUT = 10;
constexpr kes_result KES_NOTFOUND = 11;
constexpr kes_result KES_DNSSDFAIL = 12;
constexpr kes_result KES_RANGE = 13;
constexpr kes_result KES_POLICY = 14;
constexpr kes_result KES_VERSION = 15;
constexpr kes_result KES_ACCES = 16;
constexpr kes_result KES_ADDRINUSE = 17;
constexpr kes_result KES_ADDRNOTAVAIL = 18;
constexpr kes_result KES_AFNOSUPPORT = 19;
constexpr kes_result KES_ALREADY = 20;
constexpr kes_result KES_BADF = 21;
constexpr kes_result KES_CONNABORTED = 22;
constexpr kes_result KES_CONNREFUSED = 23;
constexpr kes_result KES_CONNRESET = 24;
constexpr kes_result KES_DESTADDRREQ = 25;
constexpr kes_result KES_FAULT = 26;
constexpr kes_result KES_HOSTUNREACH = 27;
constexpr kes_result KES_INPROGRESS = 28;
constexpr kes_result KES_ISCONN = 29;
constexpr kes_result KES_MFILE = 30;
constexpr kes_result KES_MSGSIZE = 31;
constexpr kes_result KES_NETDOWN = 32;
constexpr kes_result KES_NETRESET = 33;
constexpr kes_result KES_NETUNREACH = 34;
constexpr kes_result KES_NOBUFS = 35;
constexpr kes_result KES_NODATA = 36;
constexpr kes_result KES_NODEV = 37;
constexpr kes_result KES_NOPROTOOPT = 38;
constexpr kes_result KES_NORECOVERY = 39;
constexpr kes_result KES_NOTCONN = 40;
constexpr kes_result KES_NOTINITIALISED = 41;
constexpr kes_result KES_NOTSOCK = 42;
constexpr kes_result KES_PROTONOSUPPORT = 43;
constexpr kes_result KES_PROTOTYPE = 44;
constexpr kes_result KES_SHUTDOWN = 45;
constexpr kes_result KES_SOCKTNOSUPPORT = 46;
constexpr kes_result KES_TRYAGAIN = 47;
constexpr kes_result KES_NOTRUNNING = 48;

// Room for one description line: 512 characters and the terminator.
constexpr size_t KES_RESULT_DESCRIBE_SIZE = 513;

// The short upper-case name of `code` ("CONNRESET"), or nullptr for a code
// outside the table.
const char* kes_result_name(kes_result code);

// The lower-case text of `code` ("connection reset"), or nullptr for a code
// outside the table.
const char* kes_result_text(kes_result code);

// Writes one line describing `code` into `buffer` (KES_RESULT_DESCRIBE_SIZE
// bytes) and returns `buffer`:
//   0                 "success"
//   KES_SYSTEM        "System error: <errno text>: (0x<errno>)", errno read now
//   any other         "<text>: (0x<code>=<NAME>)", "(null)" for unknown parts
// A missing buffer gives nullptr.
char* kes_result_describe(kes_result code, char* buffer);

// The platform's message text for an errno value, "" for 0. The text lives in
// a per-thread buffer of 1024 bytes that the next call on the same thread
// overwrites.
const char* kes_system_error_text(uint32_t error);

// Translates a platform error number into a code through the system-error
// table: an entry up to 0xFFFF matches the low 16 bits of `error`, a larger
// entry only the whole number; the first match wins; no match is KES_SYSTEM.
kes_result kes_result_from_system(uint32_t error);

// kes_result_from_system of the calling thread's current errno.
kes_result kes_result_from_errno();
