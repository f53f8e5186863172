// Builders of valid manager records for tests: a realistic options record, a
// configuration valid against it and a state carrying that configuration.
#pragma once

#include "qel_records.h"

namespace qeltest {

// Channel counts 2, 4, 8, 16, 32, 64; two interfaces "eth0" and "wlan0";
// 44100/48000 Hz (64 channels) and 96000 Hz (32); 16 and 24 bit; latencies
// "Low" (1000 us), "Medium" (2000 us), "High" (5000 us); ASIO latencies
// 1000/2000 us, buffer sizes 64/128/256, encodings 16/24.
qel_options sampleOptions();

// 16 channels on eth0 at 48000 Hz, 24 bit, "Medium", running, WDM, ASIO
// 2000 us / 128 samples / 24 bit.
qel_config sampleConfig();

// sampleConfig in force, link up at 1000 Mbit/s, 192.168.1.20, device
// "Qelvane", no system error.
qel_state sampleState();

} // namespace qeltest
