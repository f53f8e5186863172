// Validity of a configuration against the options, options equality, the
// lookups and the system-error catalogue.
#include "qel_records.h"

#include "kes_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace {

void set_interface(qel_interface& entry, const char16_t* name, uint8_t last_mac_byte) {
    std::memset(&entry, 0, sizeof entry);
    for (size_t i = 0; name[i] != 0; ++i) {
        entry.name[i] = name[i];
    }
    const uint8_t mac[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3a, 0x4c, last_mac_byte};
    std::memcpy(entry.mac, mac, sizeof mac);
}

qel_options base_options() {
    qel_options o{};
    o.channel_counts = {4, {2, 8, 16, 64}};
    o.interfaces.count = 2;
    set_interface(o.interfaces.entries[0], u"eth0", 0x01);
    set_interface(o.interfaces.entries[1], u"eth1", 0x02);
    o.sample_rates = {3, {{44100, 64}, {48000, 64}, {96000, 32}}};
    o.sample_formats = {2, {16, 24}};
    o.latencies = {2, {{"Low", 1000}, {"Medium", 2000}}};
    o.asio_latencies = {2, {5000, 10000}};
    o.asio_buffer_sizes = {2, {128, 256}};
    o.asio_encodings = {2, {16, 24}};
    return o;
}

// ASIO, 8 channels on eth1 at 48000 Hz, 24 bit, Medium latency.
qel_config base_config() {
    qel_config c{};
    c.channels = 8;
    set_interface(c.interface, u"eth1", 0x02);
    c.sample_rate_hz = 48000;
    c.sample_format = 24;
    kes_strlcpy(c.latency, "Medium", sizeof c.latency);
    c.want_to_run = 1;
    c.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    c.asio_latency_us = 10000;
    c.asio_buffer_size = 256;
    c.asio_encoding = 24;
    return c;
}

struct ValidityCase {
    const char* name;
    void (*change)(qel_options&, qel_config&);
    bool valid;
};

class ConfigValidity : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(ConfigValidity, ChecksEveryFieldAgainstTheOptions) {
    qel_options options = base_options();
    qel_config config = base_config();
    ASSERT_TRUE(qel_config_is_valid(&options, &config));
    GetParam().change(options, config);
    EXPECT_EQ(qel_config_is_valid(&options, &config), GetParam().valid);
}

const ValidityCase k_validity_cases[] = {
    {"ChannelsNotOffered", [](qel_options&, qel_config& c) { c.channels = 4; }, false},
    {"MacNotOffered", [](qel_options&, qel_config& c) { c.interface.mac[5] = 0x03; }, false},
    {"NameNotCompared",
     [](qel_options&, qel_config& c) { std::memcpy(c.interface.name, u"other", 12); }, true},
    {"ZeroMacWithNoInterfaces",
     [](qel_options& o, qel_config& c) {
         o.interfaces = {};
         std::memset(c.interface.mac, 0, QEL_MAC_SIZE);
     },
     true},
    {"RateNotOffered", [](qel_options&, qel_config& c) { c.sample_rate_hz = 32000; }, false},
    {"ChannelsAboveTheRateLimit",
     [](qel_options&, qel_config& c) {
         c.channels = 64;
         c.sample_rate_hz = 96000;
     },
     false},
    {"ChannelsAtTheRateLimit", [](qel_options&, qel_config& c) { c.channels = 64; }, true},
    {"FormatNotOffered", [](qel_options&, qel_config& c) { c.sample_format = 32; }, false},
    {"LatencyNameInOtherCase",
     [](qel_options&, qel_config& c) { kes_strlcpy(c.latency, "medium", sizeof c.latency); },
     false},
    {"AudioInterfaceTwo", [](qel_options&, qel_config& c) { c.audio_interface = 2; }, false},
    {"Wdm", [](qel_options&, qel_config& c) { c.audio_interface = QEL_AUDIO_INTERFACE_WDM; }, true},
    {"WdmWithBufferSizeNotOffered",
     [](qel_options&, qel_config& c) {
         c.audio_interface = QEL_AUDIO_INTERFACE_WDM;
         c.asio_buffer_size = 512;
     },
     false},
    {"AsioEncodingNotOffered", [](qel_options&, qel_config& c) { c.asio_encoding = 32; }, false},
    {"AsioLatencyNotOffered", [](qel_options&, qel_config& c) { c.asio_latency_us = 7000; }, false},
};

INSTANTIATE_TEST_SUITE_P(Records, ConfigValidity, ::testing::ValuesIn(k_validity_cases),
                         [](const auto& test) { return std::string(test.param.name); });

struct EqualityCase {
    const char* name;
    void (*change)(qel_options&);
    bool equal;
};

class OptionsEquality : public ::testing::TestWithParam<EqualityCase> {};

TEST_P(OptionsEquality, ComparesEveryListInOrder) {
    qel_options a = base_options();
    qel_options b = base_options();
    GetParam().change(b);
    EXPECT_EQ(qel_options_equal(&a, &b), GetParam().equal);
    EXPECT_EQ(qel_options_equal(&b, &a), GetParam().equal);
}

const EqualityCase k_equality_cases[] = {
    {"Identical", [](qel_options&) {}, true},
    {"JunkAfterNameTerminators",
     [](qel_options& o) {
         o.interfaces.entries[1].name[10] = u'x';
         o.latencies.entries[0].name[20] = 'x';
     },
     true},
    {"SecondInterfaceName", [](qel_options& o) { o.interfaces.entries[1].name[3] = u'2'; }, false},
    {"SecondInterfaceMac", [](qel_options& o) { o.interfaces.entries[1].mac[0] = 1; }, false},
    {"ChannelCountsInOtherOrder",
     [](qel_options& o) { std::swap(o.channel_counts.entries[0], o.channel_counts.entries[1]); },
     false},
    {"OneChannelCountLess", [](qel_options& o) { o.channel_counts.count = 3; }, false},
    {"RateLimit", [](qel_options& o) { o.sample_rates.entries[2].max_channels = 16; }, false},
    {"LatencyName", [](qel_options& o) { o.latencies.entries[0].name[0] = 'l'; }, false},
    {"LatencyMicroseconds", [](qel_options& o) { o.latencies.entries[1].latency_us = 2001; },
     false},
    {"AsioEncoding", [](qel_options& o) { o.asio_encodings.count = 1; }, false},
};

INSTANTIATE_TEST_SUITE_P(Records, OptionsEquality, ::testing::ValuesIn(k_equality_cases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(Records, MissingRecordsAreNeitherValidNorEqualNorFound) {
    qel_options options = base_options();
    qel_config config = base_config();
    EXPECT_FALSE(qel_config_is_valid(nullptr, &config));
    EXPECT_FALSE(qel_config_is_valid(&options, nullptr));
    EXPECT_FALSE(qel_options_equal(&options, nullptr));
    EXPECT_FALSE(qel_options_equal(nullptr, &options));
    EXPECT_EQ(qel_options_find_interface_by_mac(nullptr, config.interface.mac), nullptr);
    EXPECT_EQ(qel_options_find_interface_by_mac(&options, nullptr), nullptr);
    EXPECT_EQ(qel_options_find_interface_by_name(nullptr, u"eth0"), nullptr);
    EXPECT_EQ(qel_options_find_interface_by_name(&options, nullptr), nullptr);
    EXPECT_EQ(qel_options_find_sample_rate(nullptr, 48000), nullptr);
    EXPECT_EQ(qel_options_find_latency_by_name(nullptr, "Low"), nullptr);
    EXPECT_EQ(qel_options_find_latency_by_name(&options, nullptr), nullptr);
    EXPECT_EQ(qel_options_find_latency_by_us(nullptr, 1000), nullptr);
}

TEST(Records, LookupsReturnTheFirstExactMatch) {
    qel_options o = base_options();
    o.interfaces.count = 3;
    set_interface(o.interfaces.entries[2], u"eth0", 0x02); // eth1's MAC, eth0's name
    o.latencies.entries[2] = {"Medium", 1000};
    o.latencies.count = 3;

    EXPECT_EQ(qel_options_find_interface_by_mac(&o, o.interfaces.entries[2].mac),
              &o.interfaces.entries[1]);
    EXPECT_EQ(qel_options_find_interface_by_name(&o, u"eth0"), &o.interfaces.entries[0]);
    EXPECT_EQ(qel_options_find_interface_by_name(&o, u"eth"), nullptr);
    EXPECT_EQ(qel_options_find_interface_by_name(&o, u"eth00"), nullptr);
    EXPECT_EQ(qel_options_find_sample_rate(&o, 96000), &o.sample_rates.entries[2]);
    EXPECT_EQ(qel_options_find_sample_rate(&o, 0), nullptr);
    EXPECT_EQ(qel_options_find_latency_by_name(&o, "Medium"), &o.latencies.entries[1]);
    EXPECT_EQ(qel_options_find_latency_by_name(&o, "LOW"), nullptr);
    EXPECT_EQ(qel_options_find_latency_by_us(&o, 1000), &o.latencies.entries[0]);
    EXPECT_EQ(qel_options_find_latency_by_us(&o, 3000), nullptr);
}

// A count above 16 is read as 16. The record sits alone on the heap so that
// the address sanitizer reports any read past its last list.
TEST(Records, CountsAboveSixteenStayInsideTheRecord) {
    auto a = std::make_unique<qel_options>(base_options());
    a->asio_encodings.count = 0xFFFF;
    auto b = std::make_unique<qel_options>(*a);
    qel_config config = base_config();
    EXPECT_TRUE(qel_config_is_valid(a.get(), &config));
    config.asio_encoding = 32;
    EXPECT_FALSE(qel_config_is_valid(a.get(), &config));
    EXPECT_TRUE(qel_options_equal(a.get(), b.get()));
}

struct CatalogueRow {
    uint32_t code;
    const char* name;
    const char* text;
};

class SystemErrorCatalogue : public ::testing::TestWithParam<CatalogueRow> {};

TEST_P(SystemErrorCatalogue, GivesTheRowsNameAndText) {
    EXPECT_STREQ(qel_system_error_name(GetParam().code), GetParam().name);
    EXPECT_STREQ(qel_system_error_text(GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, SystemErrorCatalogue,
    ::testing::Values(CatalogueRow{0x0000, "None", "No error"},
                      CatalogueRow{0x0010, "Missing", "Can't find the manager"},
                      CatalogueRow{0x0011, "Stopped", "Manager isn't active"},
                      CatalogueRow{0x0100, "Manager", "Qelvane manager failed"},
                      CatalogueRow{0x0101, "Invalid Config", "Invalid configuration from manager"},
                      CatalogueRow{0x0110, "Vgr", "Can't communicate with Vigrel server"},
                      CatalogueRow{0x0200, "Driver", "Audio driver failed"},
                      CatalogueRow{0x0201, "Driver Missing", "Can't find audio driver"},
                      CatalogueRow{0x0202, "Driver Stopped", "Audio driver isn't active"},
                      CatalogueRow{0x0203, "Driver Stalled", "Audio driver is not responding"},
                      CatalogueRow{0x0300, "Ptp", "PTP failed"},
                      CatalogueRow{0x0301, "Ptp Missing", "Can't find PTP program"},
                      CatalogueRow{0x0400, "Tavro", "Audio routing system failed"},
                      CatalogueRow{0x0401, "Tavro Missing", "Can't find audio routing program"},
                      // Codes in no row.
                      CatalogueRow{0x0500, nullptr, nullptr},
                      CatalogueRow{0x0001, nullptr, nullptr},
                      CatalogueRow{0x10201, nullptr, nullptr}));

} // namespace
