// Sample records, zero-filled before they are filled as the codec expects.
#include "record_builders.h"

#include "kes_text.h"

#include <cstring>

namespace qeltest {

namespace {

void setName(char16_t* destination, const char16_t* name) {
    size_t i = 0;
    for (; name[i] != 0 && i + 1 < QEL_INTERFACE_NAME_SIZE; ++i) {
        destination[i] = name[i];
    }
    destination[i] = 0;
}

const uint8_t k_eth0_mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
const uint8_t k_wlan0_mac[QEL_MAC_SIZE] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};

} // namespace

qel_options sampleOptions() {
    qel_options o;
    std::memset(&o, 0, sizeof o);
    const uint16_t channels[] = {2, 4, 8, 16, 32, 64};
    o.channel_counts.count = 6;
    std::memcpy(o.channel_counts.entries, channels, sizeof channels);

    o.interfaces.count = 2;
    setName(o.interfaces.entries[0].name, u"eth0");
    std::memcpy(o.interfaces.entries[0].mac, k_eth0_mac, QEL_MAC_SIZE);
    setName(o.interfaces.entries[1].name, u"wlan0");
    std::memcpy(o.interfaces.entries[1].mac, k_wlan0_mac, QEL_MAC_SIZE);

    o.sample_rates.count = 3;
    o.sample_rates.entries[0] = {44100, 64};
    o.sample_rates.entries[1] = {48000, 64};
    o.sample_rates.entries[2] = {96000, 32};

    o.sample_formats.count = 2;
    o.sample_formats.entries[0] = 16;
    o.sample_formats.entries[1] = 24;

    o.latencies.count = 3;
    const char* names[] = {"Low", "Medium", "High"};
    const uint32_t micros[] = {1000, 2000, 5000};
    for (int i = 0; i < 3; ++i) {
        kes_strlcpy(o.latencies.entries[i].name, names[i], QEL_LATENCY_NAME_SIZE);
        o.latencies.entries[i].latency_us = micros[i];
    }

    o.asio_latencies.count = 2;
    o.asio_latencies.entries[0] = 1000;
    o.asio_latencies.entries[1] = 2000;
    o.asio_buffer_sizes.count = 3;
    o.asio_buffer_sizes.entries[0] = 64;
    o.asio_buffer_sizes.entries[1] = 128;
    o.asio_buffer_sizes.entries[2] = 256;
    o.asio_encodings.count = 2;
    o.asio_encodings.entries[0] = 16;
    o.asio_encodings.entries[1] = 24;
    return o;
}

qel_config sampleConfig() {
    qel_config c;
    std::memset(&c, 0, sizeof c);
    c.channels = 16;
    setName(c.interface.name, u"eth0");
    std::memcpy(c.interface.mac, k_eth0_mac, QEL_MAC_SIZE);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    kes_strlcpy(c.latency, "Medium", sizeof c.latency);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    c.asio_latency_us = 2000;
    c.asio_buffer_size = 128;
    c.asio_encoding = 24;
    return c;
}

qel_state sampleState() {
    qel_state s;
    std::memset(&s, 0, sizeof s);
    s.config = sampleConfig();
    s.link_up = 1;
    s.link_speed = 1000;
    const uint8_t ip[] = {192, 168, 1, 20};
    std::memcpy(s.ip_address, ip, sizeof ip);
    kes_strlcpy(s.device_name, "Qelvane", sizeof s.device_name);
    const char16_t process[] = u"qel-manager";
    std::memcpy(s.dll_process_name, process, sizeof process);
    return s;
}

} // namespace qeltest
