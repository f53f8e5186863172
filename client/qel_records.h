// The manager's records: info, options, configuration and state, as plain
// fixed-size values (no pointers, every list at most 16 entries, every string
// terminated inside its capacity), the system-error catalogue, and the pure
// functions over them: validity, equality and lookups.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t QEL_OPTIONS_LIST_MAX = 16;

// Capacities, terminator included.
constexpr size_t QEL_INFO_SUFFIX_SIZE = 8;
constexpr size_t QEL_INTERFACE_NAME_SIZE = 64; // UTF-16 units
constexpr size_t QEL_MAC_SIZE = 6;
constexpr size_t QEL_LATENCY_NAME_SIZE = 32;
constexpr size_t QEL_DEVICE_NAME_SIZE = 32;
constexpr size_t QEL_DLL_PROCESS_NAME_SIZE = 64; // UTF-16 units
constexpr size_t QEL_IP_ADDRESS_SIZE = 4;

constexpr uint32_t QEL_AUDIO_INTERFACE_ASIO = 0;
constexpr uint32_t QEL_AUDIO_INTERFACE_WDM = 1;

// config_lock_flags bit: an ASIO application has the audio driver open.
constexpr uint16_t QEL_CONFIG_LOCK_ASIO_CLIENT = 0x0002;

// The answer to CONNECT: the manager's version.
struct qel_info {
    uint16_t first_value; // stored, not interpreted
    uint8_t major;
    uint8_t minor;
    uint16_t build;
    char suffix[QEL_INFO_SUFFIX_SIZE]; // appended to the version as it is
};

// A network interface; a MAC of six zero bytes means no interface.
struct qel_interface {
    char16_t name[QEL_INTERFACE_NAME_SIZE];
    uint8_t mac[QEL_MAC_SIZE];
};

struct qel_sample_rate {
    uint32_t rate_hz;
    uint16_t max_channels; // the largest channel count usable at this rate
};

struct qel_latency {
    char name[QEL_LATENCY_NAME_SIZE]; // configurations refer to a latency by name
    uint32_t latency_us;
};

// Lists: a count and 16 slots; slots past the count are zero.
struct qel_u16_list {
    uint16_t count;
    uint16_t entries[QEL_OPTIONS_LIST_MAX];
};
struct qel_u32_list {
    uint16_t count;
    uint32_t entries[QEL_OPTIONS_LIST_MAX];
};
struct qel_interface_list {
    uint16_t count;
    qel_interface entries[QEL_OPTIONS_LIST_MAX];
};
struct qel_sample_rate_list {
    uint16_t count;
    qel_sample_rate entries[QEL_OPTIONS_LIST_MAX];
};
struct qel_latency_list {
    uint16_t count;
    qel_latency entries[QEL_OPTIONS_LIST_MAX];
};

// Everything the manager offers to choose from.
struct qel_options {
    qel_u16_list channel_counts; // one count for inputs and outputs alike
    qel_interface_list interfaces;
    qel_sample_rate_list sample_rates;
    qel_u16_list sample_formats; // bits per sample
    qel_latency_list latencies;
    qel_u32_list asio_latencies;    // microseconds
    qel_u32_list asio_buffer_sizes; // samples
    qel_u16_list asio_encodings;    // bits per sample
};

// One choice among the options.
struct qel_config {
    uint16_t channels;
    qel_interface interface; // MAC all zero: none chosen
    uint32_t sample_rate_hz;
    uint16_t sample_format;
    char latency[QEL_LATENCY_NAME_SIZE];
    uint32_t want_to_run;     // 0 or 1
    uint32_t audio_interface; // QEL_AUDIO_INTERFACE_ASIO or _WDM
    uint32_t asio_latency_us;
    uint32_t asio_buffer_size;
    uint16_t asio_encoding;
};

// The configuration in force and the live status of the card and network.
struct qel_state {
    qel_config config;
    uint16_t config_lock_flags;              // non-zero: the configuration is locked
    uint16_t system_error;                   // a catalogue code; 0 = no error
    uint32_t link_up;                        // 0 or 1
    uint32_t link_speed;                     // Mbit/s
    uint8_t ip_address[QEL_IP_ADDRESS_SIZE]; // first byte first; zero = none
    char device_name[QEL_DEVICE_NAME_SIZE];
    char16_t dll_process_name[QEL_DLL_PROCESS_NAME_SIZE];
};

// System-error catalogue codes (high byte: 0x00 presence, 0x01 manager,
// 0x02 audio driver, 0x03 clock, 0x04 audio routing).
constexpr uint16_t QEL_SYSTEM_ERROR_NONE = 0x0000;
constexpr uint16_t QEL_SYSTEM_ERROR_MISSING = 0x0010;
constexpr uint16_t QEL_SYSTEM_ERROR_STOPPED = 0x0011;
constexpr uint16_t QEL_SYSTEM_ERROR_MANAGER = 0x0100;
constexpr uint16_t QEL_SYSTEM_ERROR_INVALID_CONFIG = 0x0101;
constexpr uint16_t QEL_SYSTEM_ERROR_VGR = 0x0110;
constexpr uint16_t QEL_SYSTEM_ERROR_DRIVER = 0x0200;
constexpr uint16_t QEL_SYSTEM_ERROR_DRIVER_MISSING = 0x0201;
constexpr uint16_t QEL_SYSTEM_ERROR_DRIVER_STOPPED = 0x0202;
constexpr uint16_t QEL_SYSTEM_ERROR_DRIVER_STALLED = 0x0203;
constexpr uint16_t QEL_SYSTEM_ERROR_PTP = 0x0300;
constexpr uint16_t QEL_SYSTEM_ERROR_PTP_MISSING = 0x0301;
constexpr uint16_t QEL_SYSTEM_ERROR_TAVRO = 0x0400;
constexpr uint16_t QEL_SYSTEM_ERROR_TAVRO_MISSING = 0x0401;

// True when the configuration is valid against the options: the channel count,
// the interface (by MAC, unless all zero), the sample rate with its channel
// limit, the sample format, the latency name (exact bytes), an audio
// interface of 0 or 1, and the ASIO buffer size, encoding and latency (checked
// whatever the audio interface) are all offered. False for a missing record.
bool qel_config_is_valid(const qel_options* options, const qel_config* config);

// True when both are present and equal list by list, entries in order. Names
// are compared as strings (up to their terminator, within their capacity), so
// bytes left after a terminator never make two records differ.
bool qel_options_equal(const qel_options* a, const qel_options* b);

// Lookups: the first matching entry, or nullptr (also for missing arguments).
const qel_interface* qel_options_find_interface_by_mac(const qel_options* options,
                                                       const uint8_t* mac);
const qel_interface* qel_options_find_interface_by_name(const qel_options* options,
                                                        const char16_t* name);
const qel_sample_rate* qel_options_find_sample_rate(const qel_options* options, uint32_t rate_hz);
const qel_latency* qel_options_find_latency_by_name(const qel_options* options, const char* name);
const qel_latency* qel_options_find_latency_by_us(const qel_options* options, uint32_t latency_us);

// The catalogue's text ("Can't find audio driver") and short name ("Driver
// Missing") for a code, or nullptr for a code in no row.
const char* qel_system_error_text(uint32_t code);
const char* qel_system_error_name(uint32_t code);
