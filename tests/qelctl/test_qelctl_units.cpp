// qelctl without a manager: the command line, the values of set, the
// configuration a change builds, and the texts of the records.
#include "qelctl_args.h"
#include "qelctl_change.h"
#include "qelctl_text.h"

#include "record_builders.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace qelctl {
namespace {

using Args = std::vector<std::string>;
using Lines = std::vector<std::string>;

TEST(QelctlParse, ReadsCommandsAndOptionsWhereverTheyStand) {
    Parsed p = parseCommandLine({"--port", "9000", "status", "--json", "-v"});
    ASSERT_EQ(p.end, ParseEnd::RUN) << p.error;
    EXPECT_STREQ(p.invocation.command->name, "status");
    EXPECT_EQ(p.invocation.port, 9000);
    EXPECT_TRUE(p.invocation.json);
    EXPECT_TRUE(p.invocation.verbose);

    p = parseCommandLine({"set", "--port=1234", "latency=2 ms", "--dry-run", "power=on"});
    ASSERT_EQ(p.end, ParseEnd::RUN) << p.error;
    EXPECT_EQ(p.invocation.port, 1234);
    EXPECT_TRUE(p.invocation.dryRun);
    ASSERT_EQ(p.invocation.settings.size(), 2u);
    EXPECT_EQ(p.invocation.settings[0].key, Key::LATENCY);
    EXPECT_EQ(p.invocation.settings[0].number, 2000u);

    p = parseCommandLine({"wait", "--timeout", "2.5", "--running"});
    ASSERT_EQ(p.end, ParseEnd::RUN) << p.error;
    EXPECT_EQ(p.invocation.timeout.seconds, 2);
    EXPECT_EQ(p.invocation.timeout.microseconds, 500000);
    EXPECT_TRUE(p.invocation.running);
    EXPECT_EQ(parseCommandLine({"wait"}).invocation.timeout.seconds, 30);

    p = parseCommandLine({"options", "--list=asio-latency"});
    ASSERT_EQ(p.end, ParseEnd::RUN) << p.error;
    EXPECT_EQ(p.invocation.list->key, Key::ASIO_LATENCY);

    EXPECT_EQ(parseCommandLine({"bogus", "--help"}).end, ParseEnd::HELP);
    EXPECT_EQ(parseCommandLine({"-h"}).end, ParseEnd::HELP);
    EXPECT_EQ(parseCommandLine({"status", "--version"}).end, ParseEnd::VERSION);
    p = parseCommandLine({"set", "--", "--help"});
    EXPECT_EQ(p.end, ParseEnd::USAGE);
    EXPECT_EQ(p.error, "set: \"--help\" is not KEY=VALUE (keys: power, audio, rate, bits, "
                       "latency, channels, interface, asio-buffer, asio-encoding, asio-latency)");
}

struct ValueCase {
    std::string argument;
    Key key;
    Setting::Form form;
    uint32_t number;
    std::string name;
};

TEST(QelctlParse, ReadsEveryFormOfEveryValue) {
    const ValueCase cases[] = {
        {"power=ON", Key::POWER, Setting::NUMBER, 1, ""},
        {"power=off", Key::POWER, Setting::NUMBER, 0, ""},
        {"audio=asio", Key::AUDIO, Setting::NUMBER, QEL_AUDIO_INTERFACE_ASIO, ""},
        {"audio=WDM", Key::AUDIO, Setting::NUMBER, QEL_AUDIO_INTERFACE_WDM, ""},
        {"rate=48000", Key::RATE, Setting::NUMBER, 48000, ""},
        {"rate=96000 Hz", Key::RATE, Setting::NUMBER, 96000, ""},
        {"rate=4294967295hz", Key::RATE, Setting::NUMBER, 4294967295u, ""},
        {"bits=24 bit", Key::BITS, Setting::NUMBER, 24, ""},
        {"latency=2 ms", Key::LATENCY, Setting::NUMBER, 2000, ""},
        {"latency=2.5ms", Key::LATENCY, Setting::NUMBER, 2500, ""},
        {"latency=0", Key::LATENCY, Setting::INDEX, 0, ""},
        {"latency=Extra High", Key::LATENCY, Setting::NAME, 0, "Extra High"},
        {"latency=Rms", Key::LATENCY, Setting::NAME, 0, "Rms"},
        {"channels=065535", Key::CHANNELS, Setting::NUMBER, 65535, ""},
        {"interface=eth0", Key::INTERFACE, Setting::NAME, 0, "eth0"},
        {"interface=r\xc3\xa9seau=1", Key::INTERFACE, Setting::NAME, 0, "r\xc3\xa9seau=1"},
        {"asio-buffer=256 samples", Key::ASIO_BUFFER, Setting::NUMBER, 256, ""},
        {"asio-encoding=32bit", Key::ASIO_ENCODING, Setting::NUMBER, 32, ""},
        {"asio-latency=5", Key::ASIO_LATENCY, Setting::NUMBER, 5000, ""},
        {"asio-latency=0.001 ms", Key::ASIO_LATENCY, Setting::NUMBER, 1, ""},
    };
    for (const ValueCase& c : cases) {
        std::vector<Setting> settings;
        std::string error;
        ASSERT_TRUE(parseSettings({c.argument}, settings, error)) << c.argument << ": " << error;
        EXPECT_EQ(settings[0].key, c.key) << c.argument;
        EXPECT_EQ(settings[0].form, c.form) << c.argument;
        EXPECT_EQ(settings[0].number, c.number) << c.argument;
        EXPECT_EQ(settings[0].name, c.name) << c.argument;
    }
}

struct BuildCase {
    const char* what;
    Args arguments;
    uint16_t channelsInForce;
    uint32_t asioLatencyInForce;
    uint16_t limit96k; // the options' channel limit at 96000 Hz
    Lines problems;
    std::string note;
    uint16_t channels;
};

TEST(QelctlBuild, CopiesTheConfigurationInForceLowersTheChannelsAndChecksValidity) {
    const BuildCase cases[] = {
        {"a rate that allows the channels", {"rate=96000"}, 16, 2000, 32, {}, "", 16},
        {"a rate that allows fewer",
         {"rate=96000"},
         64,
         2000,
         32,
         {},
         "Channel count reduced to 32 due to sample rate 96000 Hz",
         32},
        {"named channels the rate does not allow",
         {"rate=96000", "channels=64"},
         16,
         2000,
         32,
         {"channels: 64 is more than 96000 Hz allows (at most 32)"},
         "",
         64},
        {"lowered to a count not offered",
         {"rate=96000"},
         64,
         2000,
         24,
         {"channels: 24 (lowered from 64) is not offered (offered: 2, 4, 8, 16, 32, 64)"},
         "Channel count reduced to 24 due to sample rate 96000 Hz",
         24},
        {"values not offered",
         {"bits=32", "latency=9", "interface=eth9", "asio-buffer=100"},
         16,
         2000,
         32,
         {"bits: 32 is not offered (offered: 16, 24)",
          "latency: index 9 is not offered (offered: 0: 1 ms (Low), 1: 2 ms (Medium), 2: 5 ms "
          "(High))",
          "interface: \"eth9\" is not offered (offered: eth0, wlan0)",
          "asio-buffer: 100 is not offered (offered: 64, 128, 256)"},
         "",
         16},
        {"a value in force no longer offered",
         {"power=off"},
         16,
         7000,
         32,
         {"asio-latency: 7 ms (in force) is not offered (offered: 1 ms, 2 ms)"},
         "",
         16},
    };
    for (const BuildCase& c : cases) {
        qel_options options = qeltest::sampleOptions();
        options.sample_rates.entries[2].max_channels = c.limit96k;
        qel_config inForce = qeltest::sampleConfig();
        inForce.channels = c.channelsInForce;
        inForce.asio_latency_us = c.asioLatencyInForce;
        std::vector<Setting> settings;
        std::string error;
        ASSERT_TRUE(parseSettings(c.arguments, settings, error)) << error;
        const Built built = buildConfig(options, inForce, settings);
        EXPECT_EQ(built.problems, c.problems) << c.what;
        EXPECT_EQ(built.valid, c.problems.empty()) << c.what;
        EXPECT_EQ(built.note, c.note) << c.what;
        EXPECT_EQ(built.config.channels, c.channels) << c.what;
    }
}

TEST(QelctlBuild, OverwritesOnlyTheNamedFields) {
    const qel_options options = qeltest::sampleOptions();
    const qel_config inForce = qeltest::sampleConfig();
    std::vector<Setting> settings;
    std::string error;
    ASSERT_TRUE(parseSettings({"power=off", "audio=ASIO", "rate=44100", "bits=16", "latency=High",
                               "channels=4", "interface=wlan0", "asio-buffer=256",
                               "asio-encoding=16", "asio-latency=1"},
                              settings, error));
    const Built built = buildConfig(options, inForce, settings);
    ASSERT_TRUE(built.valid) << built.problems[0];
    qel_config expected = inForce;
    expected.want_to_run = 0;
    expected.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    expected.sample_rate_hz = 44100;
    expected.sample_format = 16;
    std::memset(expected.latency, 0, sizeof expected.latency);
    std::memcpy(expected.latency, "High", 4);
    expected.channels = 4;
    expected.interface = options.interfaces.entries[1];
    expected.asio_buffer_size = 256;
    expected.asio_encoding = 16;
    expected.asio_latency_us = 1000;
    EXPECT_EQ(std::memcmp(&built.config, &expected, sizeof expected), 0);

    const Built unchanged = buildConfig(options, inForce, {});
    EXPECT_EQ(std::memcmp(&unchanged.config, &inForce, sizeof inForce), 0);
}

TEST(QelctlText, ReportsTheStatusAligned) {
    qel_info info{};
    info.major = 1;
    info.minor = 4;
    info.build = 2;
    std::memcpy(info.suffix, "-b\xe9", 3);
    qel_state state = qeltest::sampleState();
    state.config_lock_flags = QEL_CONFIG_LOCK_ASIO_CLIENT;
    state.system_error = QEL_SYSTEM_ERROR_DRIVER_MISSING;
    EXPECT_EQ(statusReport(&info, qeltest::sampleOptions(), state),
              "Manager version:    1.4.2-b\xc3\xa9\n"
              "Sound card:         running\n"
              "Audio interface:    WDM\n"
              "Sample rate:        48000 Hz\n"
              "Bits per sample:    24 bit\n"
              "Latency:            2 ms (Medium)\n"
              "Channels:           16\n"
              "Network interface:  eth0 (00:1b:21:3c:4d:5e)\n"
              "Link:               up at 1 Gbit/s\n"
              "IPv4 address:       192.168.1.20\n"
              "ASIO buffer size:   128 samples\n"
              "ASIO encoding:      24 bit\n"
              "ASIO latency:       2 ms\n"
              "ASIO application:   connected\n"
              "Lock flags:         0x0002 (locked: an ASIO application has the audio driver "
              "open)\n"
              "System error:       0x0201 Driver Missing: Can't find audio driver\n");
    const auto json =
        nlohmann::json::parse(statusJson(&info, qeltest::sampleOptions(), state, false));
    EXPECT_EQ(json["system_error"],
              nlohmann::json::parse(
                  R"({"code": 513, "name": "Driver Missing", "text": "Can't find audio driver"})"));
    EXPECT_EQ(json["link"],
              nlohmann::json::parse(R"({"up": true, "speed_mbps": 1000, "ipv4": "192.168.1.20"})"));
    EXPECT_EQ(json["version"], "1.4.2-b\xc3\xa9");
    EXPECT_EQ(json["latency_us"], 2000);
    EXPECT_EQ(json["asio_application_connected"], true);
    EXPECT_EQ(json["configuration"]["interface"]["name"], "eth0");
}

TEST(QelctlText, FormsAndCleansEveryText) {
    EXPECT_EQ(msText(2000), "2 ms");
    EXPECT_EQ(msText(2500), "2.5 ms");
    EXPECT_EQ(msText(1), "0.001 ms");
    EXPECT_EQ(speedText(100), "100 Mbit/s");
    EXPECT_EQ(speedText(2500), "2.5 Gbit/s");
    EXPECT_EQ(timeText(kes_time{1700000000, 123456}), "2023-11-14T22:13:20.123Z");
    EXPECT_EQ(systemErrorText(0x0999), "0x0999 (unknown code)");
    const char16_t units[] = {u'a', 0xd800, u'b', 0xd83d, 0xde00, 0};
    EXPECT_EQ(utf16ToUtf8(units, 6), "a\xef\xbf\xbd"
                                     "b\xf0\x9f\x98\x80");
    EXPECT_EQ(cleanText("ok\x01\xff\xc3\xa9", 32), "ok\xef\xbf\xbd\xef\xbf\xbd\xc3\xa9");
    char16_t out[4];
    EXPECT_TRUE(utf8ToUtf16("abc", out, 4));
    EXPECT_FALSE(utf8ToUtf16("abcd", out, 4));
    EXPECT_FALSE(utf8ToUtf16("\xed\xa0\x80", out, 4)); // an encoded surrogate
    const qel_options options = qeltest::sampleOptions();
    EXPECT_EQ(offeredValues(options, Key::LATENCY), Lines({"1ms", "2ms", "5ms"}));
    EXPECT_EQ(offeredValues(options, Key::ASIO_LATENCY), Lines({"1", "2"}));
    EXPECT_EQ(offeredValues(options, Key::INTERFACE), Lines({"eth0", "wlan0"}));
}

} // namespace
} // namespace qelctl
