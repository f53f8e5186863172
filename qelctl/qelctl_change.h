// A change of the configuration, as `qelctl set KEY=VALUE ...` names it: the
// keys, the reading of their values, and the configuration built from them
// the way the panel builds every change: a copy of the configuration in
// force with the named fields overwritten, the channel count lowered when
// the sample rate demands it, and the whole checked with
// qel_config_is_valid. Pure functions: nothing here talks to the manager.
#pragma once

#include "qel_records.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qelctl {

enum class Key {
    POWER,
    AUDIO,
    RATE,
    BITS,
    LATENCY,
    CHANNELS,
    INTERFACE,
    ASIO_BUFFER,
    ASIO_ENCODING,
    ASIO_LATENCY,
};

struct KeyInfo {
    Key key;
    const char* name;  // "asio-buffer"
    const char* value; // what the value is, for messages: "a sample rate in Hz, like 48000"
    const char* form;  // the synopsis: "on|off", "HZ"
};

// Every key, in the order of the usage text.
extern const KeyInfo k_keys[];
extern const size_t k_keyCount;

// The key of that name, or nullptr.
const KeyInfo* findKey(const std::string& name);

// One KEY=VALUE, read but not yet checked against the options.
struct Setting {
    enum Form {
        NUMBER, // `number` holds the value (latency and asio-latency: microseconds)
        INDEX,  // latency by its place in the options' list
        NAME,   // latency or interface by name: `name`
    };
    Key key = Key::POWER;
    Form form = NUMBER;
    uint32_t number = 0;
    std::string name;
    std::string text; // the value as given, for messages (made safe to print)
};

// Reads the arguments of set. Each must be KEY=VALUE with a known key named
// once and a value of the key's form; the first that is not gives false and
// a message naming it (the command line is then wrong: exit status 2).
//   power=on|off            audio=ASIO|WDM (case is ignored in both)
//   rate=48000, "48000 Hz"  bits=24, "24 bit"          channels=16
//   latency="2 ms", 2ms, "2.5 ms" (by its length), 1 (by its place in the
//     options' list, from 0), Medium (by its name)
//   interface=eth0          asio-buffer=256            asio-encoding=24, "24 bit"
//   asio-latency=5, "5 ms", 2.5 (milliseconds)
bool parseSettings(const std::vector<std::string>& arguments, std::vector<Setting>& settings,
                   std::string& error);

struct Built {
    qel_config config{};
    bool valid = false;                // sendable: every value offered and the whole valid
    std::vector<std::string> problems; // when not: one line each, naming what the manager offers
    std::string note;                  // the channel count was lowered: the panel's words for it
};

// The configuration `settings` make of `inForce` against `options`. A value
// the options do not offer is a problem; so is a channel count named
// together with a rate that allows fewer. A channel count carried over from
// the configuration in force is lowered to the rate's limit instead, as the
// panel does (and `note` says so). A configuration that is still not valid
// (a value in force is no longer offered) has a problem for each field.
Built buildConfig(const qel_options& options, const qel_config& inForce,
                  const std::vector<Setting>& settings);

// The values of `key` the options offer, in the form set takes them without
// quoting ("48000", "2ms", "eth0"): for completion and `options --list`.
std::vector<std::string> offeredValues(const qel_options& options, Key key);

} // namespace qelctl
