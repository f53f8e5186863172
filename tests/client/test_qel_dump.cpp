// The diagnostic dumps line by line: list texts, their cut at 511 characters,
// wide names, the configuration with and without its ASIO lines and the state.
#include "qel_dump.h"

#include "kes_text.h"
#include "log_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

void set_name(char16_t* name, const char16_t* text) {
    for (size_t i = 0; text[i] != 0; ++i) {
        name[i] = text[i];
    }
}

qel_config wdm_config() {
    qel_config c{};
    c.channels = 8;
    set_name(c.interface.name, u"eth1");
    const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3a, 0xc4, 0x0f};
    std::copy(mac, mac + QEL_MAC_SIZE, c.interface.mac);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    kes_strlcpy(c.latency, "Medium", sizeof c.latency);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
    c.asio_latency_us = 10000;
    c.asio_buffer_size = 256;
    c.asio_encoding = 24;
    return c;
}

// The configuration lines up to the AudioInterface line, without it.
Lines config_lines(const std::string& prefix) {
    return {prefix + "Channels: 8",
            prefix + "Interface Name: eth1",
            prefix + "Interface Address: 00:1b:21:3a:c4:0f",
            prefix + "Sample Rate: 48000",
            prefix + "Sample Format: 24",
            prefix + "Latency: Medium",
            prefix + "Want to Run: true"};
}

Lines joined(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Dump : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(m_log, nullptr);
        kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_DEBUG);
        kes_log_set_timestamp(m_log, KES_LOG_STDERR, false);
    }
    void TearDown() override {
        m_capture.reset();
        kes_log_free(m_log);
    }

    // The lines written, each checked for the Debug level and returned
    // without its level name.
    Lines dumped() {
        Lines out;
        for (const std::string& line : m_capture->lines()) {
            EXPECT_EQ(line.compare(0, 6, "Debug "), 0) << line;
            out.push_back(line.substr(6));
        }
        m_capture->clear();
        return out;
    }

    kes_log* m_log = kes_log_new();
    std::unique_ptr<qeltest::LogCapture> m_capture = std::make_unique<qeltest::LogCapture>(m_log);
};

TEST_F(Dump, OptionsWriteEveryListWithItsItemFormat) {
    qel_options o{};
    o.channel_counts = {3, {2, 8, 16}};
    o.interfaces.count = 2;
    set_name(o.interfaces.entries[0].name, u"eth0");
    set_name(o.interfaces.entries[1].name, u"L\u00e4n");
    o.sample_rates = {2, {{44100, 64}, {48000, 64}}};
    o.latencies = {2, {{"Low", 1000}, {"Medium", 2000}}};
    o.asio_latencies = {1, {5000}};
    o.asio_buffer_sizes = {2, {128, 256}};
    o.asio_encodings = {2, {16, 24}};
    qel_options_dump(m_log, &o);
    EXPECT_EQ(dumped(),
              (Lines{"  Channel Counts (3): 2,8,16", "  Interfaces (2): eth0,004c 00e4 006e",
                     "  Sample Rates (2): 44100(64),48000(64)", "  Sample Formats (0): ",
                     "  Latencies (2): Low(1000us),Medium(2000us)", "  Asio Buffer Sizes: 128,256",
                     "  Asio Encodings: 16,24", "  Asio Latencies: 5000"}));
}

TEST_F(Dump, OptionsCutTheListTextAt511Characters) {
    qel_options o{};
    o.interfaces.count = 16;
    std::string all;
    for (size_t i = 0; i < 16; ++i) {
        std::u16string name(63, static_cast<char16_t>(u'a' + i));
        set_name(o.interfaces.entries[i].name, name.c_str());
        all += (i == 0 ? "" : ",") + std::string(63, static_cast<char>('a' + i));
    }
    // A count above 16 is printed as it is; only the 16 slots are listed.
    o.channel_counts = {40, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
    qel_options_dump(m_log, &o);
    Lines lines = dumped();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "  Channel Counts (40): 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16");
    EXPECT_EQ(lines[1], "  Interfaces (16): " + all.substr(0, 511));
}

TEST_F(Dump, ConfigAddsTheAsioLinesOnlyForAsio) {
    qel_config c = wdm_config();
    qel_config_dump(m_log, &c, "  ");
    EXPECT_EQ(dumped(), joined(config_lines("  "), {"  AudioInterface=WDM"}));

    c.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    qel_config_dump(m_log, &c, nullptr);
    EXPECT_EQ(dumped(), joined(config_lines(""), {"AudioInterface=ASIO", "Asio Buffer Size: 256",
                                                  "Asio Encoding: 24", "Asio Latency: 10000us"}));

    c.audio_interface = 2;
    c.want_to_run = 0;
    qel_config_dump(m_log, &c, "");
    Lines lines = dumped();
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[6], "Want to Run: false");
    EXPECT_EQ(lines[7], "AudioInterface=?");
}

TEST_F(Dump, StateWritesTheConfigIndentedAndTheLiveStatus) {
    qel_state s{};
    s.config = wdm_config();
    s.config_lock_flags = QEL_CONFIG_LOCK_ASIO_CLIENT;
    s.system_error = QEL_SYSTEM_ERROR_DRIVER_MISSING;
    s.link_up = 1;
    s.link_speed = 1000;
    const uint8_t ip[QEL_IP_ADDRESS_SIZE] = {192, 168, 1, 20};
    std::copy(ip, ip + QEL_IP_ADDRESS_SIZE, s.ip_address);
    kes_strlcpy(s.device_name, "Qelvane Audio", sizeof s.device_name);
    set_name(s.dll_process_name, u"qelhost.exe");
    qel_state_dump(m_log, &s);
    EXPECT_EQ(dumped(),
              joined(joined({"  Config:"}, config_lines("    ")),
                     {"    AudioInterface=WDM", "  Config lock flags: 0x0002",
                      "  Device Name: Qelvane Audio", "  Link up: Up", "  Link Speed: 1000M/s",
                      "  Ip Address: 192.168.1.20", "  System Error: 513 (Driver Missing)",
                      "  DLL Process Name: qelhost.exe"}));

    s.link_up = 0;
    s.system_error = 0x0500;
    std::fill(std::begin(s.dll_process_name), std::end(s.dll_process_name), u'\0');
    set_name(s.dll_process_name, u"Q\u00e9l");
    qel_state_dump(m_log, &s);
    Lines lines = dumped();
    ASSERT_EQ(lines.size(), 16u);
    EXPECT_EQ(lines[11], "  Link up: Down");
    EXPECT_EQ(lines[14], "  System Error: 1280 ((null))");
    EXPECT_EQ(lines[15], "  DLL Process Name: 0051 00e9 006c");
}

TEST_F(Dump, WritesNothingForMissingRecordsOrBelowDebug) {
    qel_options o{};
    qel_config c = wdm_config();
    qel_state s{};
    qel_options_dump(m_log, nullptr);
    qel_config_dump(m_log, nullptr, "  ");
    qel_state_dump(m_log, nullptr);
    qel_options_dump(nullptr, &o);
    qel_config_dump(nullptr, &c, "  ");
    qel_state_dump(nullptr, &s);
    kes_log_set_threshold(m_log, KES_LOG_STDERR, KES_LOG_INFO);
    qel_options_dump(m_log, &o);
    qel_config_dump(m_log, &c, "  ");
    qel_state_dump(m_log, &s);
    EXPECT_EQ(m_capture->text(), "");
}

} // namespace
