// The manager's options: the built-in set it offers when started without an
// options file, and the loader for an options file (JSON) that replaces any
// part of it. See docs/manager.md, "Options file", for the schema.
#pragma once

#include "qel_records.h"

#include <cstdint>
#include <string>
#include <vector>

// A network interface as the manager reports it: the name and MAC go into the
// options record, the rest into the state when the interface is chosen.
struct ManagerInterface {
    std::u16string name; // at most QEL_INTERFACE_NAME_SIZE - 1 units
    uint8_t mac[QEL_MAC_SIZE];
    bool linkUp;
    uint32_t speedMbps;
    uint8_t ipv4[QEL_IP_ADDRESS_SIZE]; // first byte first; all zero = none
};

struct ManagerOptions {
    // Every list the manager offers. options.interfaces holds the names and
    // MACs of `interfaces` (so it is empty when the host's interfaces are
    // used: fill it with fillOptionsInterfaces before sending).
    qel_options options;
    // True when the options file names the interfaces; false: the host's are used.
    bool fixedInterfaces;
    std::vector<ManagerInterface> interfaces; // at most QEL_OPTIONS_LIST_MAX
    // The configuration used when no saved state applies; valid against the
    // options (its interface MAC is all zero or one of `interfaces`).
    qel_config defaultConfig;
};

// The built-in options and default configuration (no fixed interfaces).
ManagerOptions defaultManagerOptions();

// Reads the options file at `path`: any key left out keeps its built-in value.
// On success fills `out` and returns true. On failure returns false, leaves
// `out` unchanged and sets `error` to one line naming the file and the place
// in it ("<path>: sample_rates[2].max_channels: ...", or the byte position of
// a syntax error).
bool loadOptionsFile(const std::string& path, ManagerOptions& out, std::string& error);

// Replaces an options record's interface list with the names and MACs of
// the first QEL_OPTIONS_LIST_MAX `interfaces` (names cut to their capacity,
// never inside a surrogate pair); unused slots are zeroed.
void fillOptionsInterfaces(const std::vector<ManagerInterface>& interfaces, qel_options& options);

// True when the options encode into one datagram. Interface names travel as
// four bytes per UTF-16 unit, so a full list of long names does not fit.
bool optionsFitOneMessage(const qel_options& options);

// Text forms shared by the files and the control channel.
// "00:1b:21:3c:4d:5e": six pairs of hex digits (either case) separated by colons.
bool parseMac(const std::string& text, uint8_t mac[QEL_MAC_SIZE]);
std::string formatMac(const uint8_t mac[QEL_MAC_SIZE]); // lower case
// "192.168.1.20": four decimal numbers 0..255 without leading zeros.
bool parseIpv4(const std::string& text, uint8_t address[QEL_IP_ADDRESS_SIZE]);
std::string formatIpv4(const uint8_t address[QEL_IP_ADDRESS_SIZE]);
// Conversions that never fail: an invalid sequence (a malformed UTF-8
// sequence, a lone surrogate) becomes U+FFFD and clears *valid when given.
std::u16string utf8ToUtf16(const std::string& text, bool* valid = nullptr);
std::string utf16ToUtf8(const std::u16string& text, bool* valid = nullptr);
