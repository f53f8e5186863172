// The status JSON of `qel-manager ctl status`, read back with a JSON parser.
#include "manager_status.h"
#include "manager_wire.h"

#include "record_builders.h"
#include "test_clock.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace qeltest {
namespace {

using nlohmann::json;

TEST(ManagerStatus, DescribesConfigurationStateModesAndClients) {
    TestClock clock;
    ManagerInterface eth0{};
    eth0.name = u"eth\u00e90"; // not plain ASCII: comes out as UTF-8
    const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
    std::memcpy(eth0.mac, mac, QEL_MAC_SIZE);
    eth0.linkUp = true;
    eth0.speedMbps = 1000;
    const uint8_t ip[4] = {192, 168, 1, 20};
    std::memcpy(eth0.ipv4, ip, 4);
    qel_options options = sampleOptions();
    ManagerCore core(nullptr, options, {eth0}, sampleConfig());

    const FakeClient panel{40001, {}};
    const auto bytes = requestBytes(panel, 0, TESK2_OPCODE_CONNECT, connectBody());
    Outbox out;
    core.handleDatagram(bytes.data(), bytes.size(), panel.address(), out);
    core.setSystemError(QEL_SYSTEM_ERROR_DRIVER_MISSING, out);
    core.setRefuse(true);
    clock.advance(12, 500000);

    const std::string text = managerStatusJson(core, 8899);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const json status = json::parse(text);

    EXPECT_EQ(status["port"], 8899);
    const json& config = status["configuration"];
    EXPECT_EQ(config["channels"], 16);
    EXPECT_EQ(config["interface"]["name"], "eth\xc3\xa9"
                                           "0");
    EXPECT_EQ(config["interface"]["mac"], "00:1b:21:3c:4d:5e");
    EXPECT_EQ(config["sample_rate_hz"], 48000);
    EXPECT_EQ(config["sample_format"], 24);
    EXPECT_EQ(config["latency"], "Medium");
    EXPECT_EQ(config["want_to_run"], true);
    EXPECT_EQ(config["audio_interface"], "WDM");
    EXPECT_EQ(config["asio_latency_us"], 2000);
    EXPECT_EQ(config["asio_buffer_size"], 128);
    EXPECT_EQ(config["asio_encoding"], 24);

    const json& state = status["state"];
    EXPECT_EQ(state["config_lock_flags"], "0x0000");
    EXPECT_EQ(state["system_error"], "0x0201");
    EXPECT_EQ(state["system_error_name"], "Driver Missing");
    EXPECT_EQ(state["link_up"], true);
    EXPECT_EQ(state["link_speed"], 1000);
    EXPECT_EQ(state["ip_address"], "192.168.1.20");
    EXPECT_EQ(state["device_name"], "Qelvane");
    EXPECT_EQ(state["dll_process_name"], "qel-manager");

    ASSERT_EQ(status["interfaces"].size(), 1u);
    EXPECT_EQ(status["interfaces"][0]["speed_mbps"], 1000);

    EXPECT_EQ(status["modes"], json({{"silent", false},
                                     {"notconnected", false},
                                     {"refuse", true},
                                     {"link_forced_down", false}}));

    ASSERT_EQ(status["clients"].size(), 1u);
    EXPECT_EQ(status["clients"][0]["address"], "127.0.0.1:40001");
    EXPECT_EQ(status["clients"][0]["client_id"], "0000000000000000:40001");
    EXPECT_EQ(status["clients"][0]["idle_seconds"], 12);
    EXPECT_EQ(status["clients"][0]["events_sent"], 3);
}

TEST(ManagerStatus, Utf16ToUtf8) {
    struct Case {
        std::u16string in;
        std::string out;
    };
    const Case cases[] = {
        {u"eth0", "eth0"},
        {u"\u00e9", "\xc3\xa9"},
        {u"\u20ac", "\xe2\x82\xac"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {std::u16string(1, char16_t(0xD800)) + u"x", "\xef\xbf\xbdx"}, // lone high surrogate
        {std::u16string(1, char16_t(0xDC00)), "\xef\xbf\xbd"},         // lone low surrogate
    };
    for (const auto& c : cases) {
        EXPECT_EQ(managerUtf16ToUtf8(c.in.c_str(), c.in.size() + 1), c.out);
    }
    // The capacity ends an unterminated text.
    const char16_t unterminated[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(managerUtf16ToUtf8(unterminated, 2), "ab");
}

} // namespace
} // namespace qeltest
