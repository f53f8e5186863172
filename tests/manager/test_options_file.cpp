// The manager's built-in options, the options file loader and its refusals,
// and the text forms (MAC, IPv4, UTF-8/UTF-16) shared by the support units.
#include "options_file.h"

#include "manager_test_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

bool sameConfig(const qel_config& a, const qel_config& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::u16string nameOf(const qel_interface& entry) {
    return std::u16string(entry.name);
}

// Loads `json` from a fresh file; on failure returns the error with the file
// path taken off the front.
struct Loaded {
    bool ok;
    ManagerOptions options;
    std::string error;
};

Loaded load(const std::string& json) {
    ManagerTestDir dir;
    std::string path = dir.write("options.json", json);
    Loaded result{false, defaultManagerOptions(), ""};
    result.ok = loadOptionsFile(path, result.options, result.error);
    if (result.error.compare(0, path.size() + 2, path + ": ") == 0) {
        result.error = result.error.substr(path.size() + 2);
    } else if (!result.ok) {
        ADD_FAILURE() << "error does not start with the path: " << result.error;
    }
    return result;
}

TEST(ManagerOptionsDefaults, OfferTheBuiltInListsAndAValidDefault) {
    ManagerOptions defaults = defaultManagerOptions();
    const qel_options& o = defaults.options;
    ASSERT_EQ(o.channel_counts.count, 6);
    EXPECT_EQ(o.channel_counts.entries[0], 2);
    EXPECT_EQ(o.channel_counts.entries[5], 64);
    ASSERT_EQ(o.sample_rates.count, 4);
    EXPECT_EQ(o.sample_rates.entries[1].rate_hz, 48000u);
    EXPECT_EQ(o.sample_rates.entries[1].max_channels, 64);
    EXPECT_EQ(o.sample_rates.entries[3].rate_hz, 96000u);
    EXPECT_EQ(o.sample_rates.entries[3].max_channels, 32);
    EXPECT_EQ(o.sample_formats.count, 3);
    ASSERT_EQ(o.latencies.count, 4);
    EXPECT_STREQ(o.latencies.entries[3].name, "Extra High");
    EXPECT_EQ(o.latencies.entries[3].latency_us, 10000u);
    EXPECT_EQ(o.asio_buffer_sizes.count, 6);
    EXPECT_EQ(o.asio_encodings.count, 3);
    ASSERT_EQ(o.asio_latencies.count, 4);
    EXPECT_EQ(o.asio_latencies.entries[3], 20000u);
    EXPECT_EQ(o.interfaces.count, 0);
    EXPECT_FALSE(defaults.fixedInterfaces);
    EXPECT_TRUE(defaults.interfaces.empty());

    const qel_config& c = defaults.defaultConfig;
    EXPECT_EQ(c.channels, 8);
    EXPECT_EQ(c.sample_rate_hz, 48000u);
    EXPECT_EQ(c.sample_format, 24);
    EXPECT_STREQ(c.latency, "Medium");
    EXPECT_EQ(c.audio_interface, QEL_AUDIO_INTERFACE_WDM);
    EXPECT_EQ(c.want_to_run, 0u);
    EXPECT_EQ(c.asio_buffer_size, 256u);
    EXPECT_EQ(c.asio_encoding, 24);
    EXPECT_EQ(c.asio_latency_us, 5000u);
    EXPECT_TRUE(qel_config_is_valid(&o, &c));
    EXPECT_TRUE(optionsFitOneMessage(o));
}

TEST(ManagerOptionsFile, EmptyObjectKeepsEveryBuiltIn) {
    Loaded result = load("{}");
    ASSERT_TRUE(result.ok) << result.error;
    ManagerOptions defaults = defaultManagerOptions();
    EXPECT_TRUE(qel_options_equal(&result.options.options, &defaults.options));
    EXPECT_TRUE(sameConfig(result.options.defaultConfig, defaults.defaultConfig));
    EXPECT_FALSE(result.options.fixedInterfaces);
}

TEST(ManagerOptionsFile, ReadsEveryPart) {
    Loaded result = load(R"({
      "channel_counts": [2, 8],
      "sample_rates": [{"hz": 48000, "max_channels": 8}, {"hz": 96000, "max_channels": 2}],
      "sample_formats": [24],
      "latencies": [{"name": "Fast", "us": 500}, {"name": "Safe", "us": 4000}],
      "asio": {"buffer_sizes": [128], "encodings": [32], "latencies_us": [3000]},
      "interfaces": [
        {"name": "eth0", "mac": "00:1B:21:3c:4d:5e", "link": false, "speed": 100,
         "ipv4": "192.168.1.20"},
        {"name": "Wi-Fi \u00e9\ud83d\ude00", "mac": "02:00:00:00:00:01"}
      ],
      "default_config": {"channels": 2, "interface": "eth0", "sample_rate_hz": 96000,
        "sample_format": 24, "latency": "Safe", "want_to_run": true,
        "audio_interface": "ASIO", "asio_latency_us": 3000, "asio_buffer_size": 128,
        "asio_encoding": 32}
    })");
    ASSERT_TRUE(result.ok) << result.error;
    const ManagerOptions& m = result.options;
    EXPECT_EQ(m.options.channel_counts.count, 2);
    EXPECT_EQ(m.options.sample_rates.entries[1].max_channels, 2);
    EXPECT_STREQ(m.options.latencies.entries[0].name, "Fast");
    EXPECT_EQ(m.options.asio_latencies.entries[0], 3000u);

    ASSERT_TRUE(m.fixedInterfaces);
    ASSERT_EQ(m.interfaces.size(), 2u);
    EXPECT_EQ(m.interfaces[0].name, u"eth0");
    EXPECT_EQ(formatMac(m.interfaces[0].mac), "00:1b:21:3c:4d:5e");
    EXPECT_FALSE(m.interfaces[0].linkUp);
    EXPECT_EQ(m.interfaces[0].speedMbps, 100u);
    EXPECT_EQ(formatIpv4(m.interfaces[0].ipv4), "192.168.1.20");
    // Left out: link up, 1000 Mbit/s, no address.
    EXPECT_EQ(m.interfaces[1].name, u"Wi-Fi \u00e9\U0001F600");
    EXPECT_TRUE(m.interfaces[1].linkUp);
    EXPECT_EQ(m.interfaces[1].speedMbps, 1000u);
    EXPECT_EQ(formatIpv4(m.interfaces[1].ipv4), "0.0.0.0");
    ASSERT_EQ(m.options.interfaces.count, 2);
    EXPECT_EQ(nameOf(m.options.interfaces.entries[1]), u"Wi-Fi \u00e9\U0001F600");

    const qel_config& c = m.defaultConfig;
    EXPECT_EQ(nameOf(c.interface), u"eth0");
    EXPECT_EQ(formatMac(c.interface.mac), "00:1b:21:3c:4d:5e");
    EXPECT_EQ(c.want_to_run, 1u);
    EXPECT_EQ(c.audio_interface, QEL_AUDIO_INTERFACE_ASIO);
    EXPECT_STREQ(c.latency, "Safe");
    EXPECT_TRUE(qel_config_is_valid(&m.options, &c));
}

TEST(ManagerOptionsFile, EmptyInterfaceListIsAFixedListOfNone) {
    Loaded result = load(R"({"interfaces": [], "default_config": {"interface": null}})");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_TRUE(result.options.fixedInterfaces);
    EXPECT_TRUE(result.options.interfaces.empty());
}

TEST(ManagerOptionsFile, NamesUpToTheirCapacityAreAccepted) {
    std::string latency(31, 'L');
    // 61 ASCII units and one surrogate pair: 63 units.
    std::string name = std::string(61, 'n') + "\xF0\x9F\x98\x80";
    Loaded result =
        load(R"({"latencies": [{"name": ")" + latency +
             R"(", "us": 1}], "default_config": {"latency": ")" + latency +
             R"("}, "interfaces": [{"name": ")" + name + R"(", "mac": "02:00:00:00:00:01"}]})");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(std::string(result.options.options.latencies.entries[0].name), latency);
    EXPECT_EQ(result.options.interfaces[0].name.size(), 63u);
    EXPECT_EQ(nameOf(result.options.options.interfaces.entries[0]).size(), 63u);
}

struct Refusal {
    const char* label;
    std::string json;
    std::string error;
};

void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << refusal.label;
}

std::string refusalName(const ::testing::TestParamInfo<Refusal>& param) {
    return param.param.label;
}

class ManagerOptionsRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ManagerOptionsRefusal, SaysWhatAndWhere) {
    Loaded result = load(GetParam().json);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, GetParam().error);
}

const std::string interfaceEntry = R"({"name": "eth0", "mac": "02:00:00:00:00:01"})";

INSTANTIATE_TEST_SUITE_P(
    Syntax, ManagerOptionsRefusal,
    ::testing::Values(
        Refusal{"Truncated", R"({"channel_counts": [2, 4)",
                "not valid JSON at byte 25, line 1, column 25: syntax error while parsing array "
                "- unexpected end of input; expected ']'"},
        Refusal{"Empty", "",
                "not valid JSON at byte 1, line 1, column 1: syntax error while parsing value - "
                "unexpected end of input; expected '[', '{', or a literal"},
        Refusal{"BadUtf8", "{\"latencies\": \"\xff\"}",
                "not valid JSON at byte 16, line 1, column 16: syntax error while parsing value "
                "- invalid string: ill-formed UTF-8 byte; last read: '\"\\xff'"},
        Refusal{"KeyTwice", R"({"asio": {"encodings": [16], "encodings": [24]}})",
                "asio.encodings: given twice"},
        Refusal{"NotAnObject", "[1]", "must be an object, not an array"},
        Refusal{"TooDeep", std::string(33, '[') + std::string(33, ']'),
                [] {
                    std::string path;
                    for (int i = 0; i < 32; i++) {
                        path += "[0]";
                    }
                    return path + ": nested more than 32 levels deep";
                }()}),
    refusalName);

INSTANTIATE_TEST_SUITE_P(
    Keys, ManagerOptionsRefusal,
    ::testing::Values(
        Refusal{"UnknownTopLevel", R"({"chanel_counts": [2]})",
                "chanel_counts: unknown key (known: channel_counts, sample_rates, sample_formats, "
                "latencies, asio, interfaces, default_config)"},
        Refusal{"UnknownNested", R"({"asio": {"buffer_size": [64]}})",
                "asio.buffer_size: unknown key (known: buffer_sizes, encodings, latencies_us)"},
        Refusal{"UnknownInEntry", R"({"sample_rates": [{"hz": 1, "max_channel": 2}]})",
                "sample_rates[0].max_channel: unknown key (known: hz, max_channels)"},
        Refusal{"Missing", R"({"sample_rates": [{"hz": 48000}]})",
                "sample_rates[0]: \"max_channels\" is missing"}),
    refusalName);

INSTANTIATE_TEST_SUITE_P(
    Numbers, ManagerOptionsRefusal,
    ::testing::Values(
        Refusal{"ListIsText", R"({"channel_counts": "2"})",
                "channel_counts: must be a list, not \"2\""},
        Refusal{"EntryIsText", R"({"channel_counts": [2, "4"]})",
                "channel_counts[1]: must be a whole number from 1 to 65535, not \"4\""},
        Refusal{"Fraction", R"({"sample_formats": [24.5]})",
                "sample_formats[0]: must be a whole number from 1 to 65535, not 24.5"},
        Refusal{"AboveU16",
                R"({"sample_rates": [{"hz": 1, "max_channels": 1}, {"hz": 2, "max_channels": 1},
                    {"hz": 3, "max_channels": 70000}]})",
                "sample_rates[2].max_channels: 70000 is out of range (1 to 65535)"},
        Refusal{"AboveU32", R"({"asio": {"latencies_us": [4294967296]}})",
                "asio.latencies_us[0]: 4294967296 is out of range (1 to 4294967295)"},
        Refusal{"Negative", R"({"asio": {"buffer_sizes": [-64]}})",
                "asio.buffer_sizes[0]: -64 is out of range (1 to 4294967295)"},
        Refusal{"Zero", R"({"channel_counts": [0]})",
                "channel_counts[0]: 0 is out of range (1 to 65535)"},
        Refusal{"Descending", R"({"channel_counts": [2, 8, 4]})",
                "channel_counts[2]: 4 must be above the entry before it (the list is ascending)"},
        Refusal{"RepeatedRate",
                R"({"sample_rates": [{"hz": 48000, "max_channels": 8},
                    {"hz": 48000, "max_channels": 2}]})",
                "sample_rates[1].hz: 48000 is already listed at sample_rates[0]"},
        Refusal{"RepeatedValue", R"({"asio": {"encodings": [16, 24, 16]}})",
                "asio.encodings[2]: 16 is already listed at asio.encodings[0]"},
        Refusal{"Empty", R"({"sample_formats": []})", "sample_formats: must not be empty"},
        Refusal{"TooMany",
                R"({"asio": {"buffer_sizes": [)" +
                    [] {
                        std::string list;
                        for (int i = 1; i <= 17; i++) {
                            list += (i > 1 ? "," : "") + std::to_string(i);
                        }
                        return list;
                    }() +
                    "]}}",
                "asio.buffer_sizes: has 17 entries, at most 16 are allowed"}),
    refusalName);

INSTANTIATE_TEST_SUITE_P(
    Names, ManagerOptionsRefusal,
    ::testing::Values(
        Refusal{"LatencyTooLong",
                R"({"latencies": [{"name": ")" + std::string(32, 'x') + R"(", "us": 1}]})",
                "latencies[0].name: is 32 bytes long, at most 31 are allowed"},
        Refusal{"LatencyEmpty", R"({"latencies": [{"name": "", "us": 1}]})",
                "latencies[0].name: must not be empty"},
        Refusal{"LatencyNul", R"({"latencies": [{"name": "a\u0000b", "us": 1}]})",
                "latencies[0].name: must not contain a NUL character"},
        Refusal{"LatencyRepeated",
                R"({"latencies": [{"name": "Low", "us": 1}, {"name": "Low", "us": 2}]})",
                "latencies[1].name: \"Low\" is already listed at latencies[0]"},
        Refusal{"InterfaceTooLong",
                R"({"interfaces": [{"name": ")" + std::string(62, 'n') +
                    R"(\ud83d\ude00", "mac": "02:00:00:00:00:01"}]})",
                "interfaces[0].name: is 64 UTF-16 units long, at most 63 are allowed"},
        Refusal{"InterfaceRepeated",
                R"({"interfaces": [{"name": "eth0", "mac": "02:00:00:00:00:01"},
                    {"name": "eth0", "mac": "02:00:00:00:00:02"}]})",
                "interfaces[1].name: \"eth0\" is already listed at interfaces[0]"},
        Refusal{"MacRepeated",
                R"({"interfaces": [{"name": "eth0", "mac": "02:00:00:00:00:01"},
                    {"name": "eth1", "mac": "02:00:00:00:00:01"}]})",
                "interfaces[1].mac: 02:00:00:00:00:01 is already listed at interfaces[0]"},
        Refusal{"MacShort", R"({"interfaces": [{"name": "e", "mac": "00:1b:21:3c:4d"}]})",
                "interfaces[0].mac: \"00:1b:21:3c:4d\" is not a MAC address like "
                "00:1b:21:3c:4d:5e"},
        Refusal{"MacZero", R"({"interfaces": [{"name": "e", "mac": "00:00:00:00:00:00"}]})",
                "interfaces[0].mac: 00:00:00:00:00:00 means no interface and cannot name one"},
        Refusal{"MacNumber", R"({"interfaces": [{"name": "e", "mac": 7}]})",
                "interfaces[0].mac: must be a MAC address like \"00:1b:21:3c:4d:5e\", not 7"},
        Refusal{"Ipv4Short",
                R"({"interfaces": [{"name": "e", "mac": "02:00:00:00:00:01", "ipv4": "10.0.1"}]})",
                "interfaces[0].ipv4: \"10.0.1\" is not an IPv4 address like 192.168.1.20"},
        Refusal{"LinkText",
                R"({"interfaces": [{"name": "e", "mac": "02:00:00:00:00:01", "link": "up"}]})",
                "interfaces[0].link: must be true or false, not \"up\""},
        Refusal{"TooLargeForOneMessage",
                R"({"interfaces": [)" +
                    [] {
                        std::string list;
                        for (int i = 10; i < 26; i++) {
                            list += std::string(i > 10 ? "," : "") + R"({"name": ")" +
                                    std::string(60, 'n') + std::to_string(i) +
                                    R"(", "mac": "02:00:00:00:00:)" + std::to_string(i) + "\"}";
                        }
                        return list;
                    }() +
                    "]}",
                "the options are too large for one message (1472 bytes); use fewer or shorter "
                "names"}),
    refusalName);

INSTANTIATE_TEST_SUITE_P(
    DefaultConfig, ManagerOptionsRefusal,
    ::testing::Values(
        Refusal{"ChannelsNotOffered", R"({"default_config": {"channels": 12}})",
                "default_config.channels: 12 is not one of channel_counts"},
        Refusal{"BuiltInNoLongerOffered", R"({"channel_counts": [2, 4]})",
                "default_config.channels: the built-in 8 is not one of channel_counts"},
        Refusal{"AboveRateLimit",
                R"({"default_config": {"channels": 64, "sample_rate_hz": 96000}})",
                "default_config.channels: 64 is above the 32 channels sample_rates allows at "
                "96000 Hz"},
        Refusal{"RateNotOffered", R"({"default_config": {"sample_rate_hz": 22050}})",
                "default_config.sample_rate_hz: 22050 is not one of sample_rates"},
        Refusal{"FormatNotOffered", R"({"sample_formats": [16]})",
                "default_config.sample_format: the built-in 24 is not one of sample_formats"},
        Refusal{"LatencyNotOffered", R"({"default_config": {"latency": "medium"}})",
                "default_config.latency: \"medium\" is not one of latencies"},
        Refusal{"AsioBufferNotOffered", R"({"default_config": {"asio_buffer_size": 100}})",
                "default_config.asio_buffer_size: 100 is not one of asio.buffer_sizes"},
        Refusal{"AsioEncodingNotOffered", R"({"asio": {"encodings": [16]}})",
                "default_config.asio_encoding: the built-in 24 is not one of asio.encodings"},
        Refusal{"AsioLatencyNotOffered", R"({"default_config": {"asio_latency_us": 1}})",
                "default_config.asio_latency_us: 1 is not one of asio.latencies_us"},
        Refusal{"AudioInterface", R"({"default_config": {"audio_interface": 1}})",
                "default_config.audio_interface: must be \"ASIO\" or \"WDM\", not 1"},
        Refusal{"InterfaceWithoutFixedList", R"({"default_config": {"interface": "eth0"}})",
                "default_config.interface: names an interface, but only one of a fixed "
                "\"interfaces\" list can be the default"},
        Refusal{"InterfaceNotListed",
                R"({"interfaces": [)" + interfaceEntry +
                    R"(], "default_config": {"interface": "eth1"}})",
                "default_config.interface: \"eth1\" is not one of interfaces"},
        Refusal{"UnknownKey", R"({"default_config": {"running": true}})",
                "default_config.running: unknown key (known: channels, interface, "
                "sample_rate_hz, sample_format, latency, want_to_run, audio_interface, "
                "asio_latency_us, asio_buffer_size, asio_encoding)"}),
    refusalName);

TEST(ManagerOptionsFile, UnreadableFilesNameTheFileAndTheCause) {
    ManagerTestDir dir;
    ManagerOptions out = defaultManagerOptions();
    std::string error;
    std::string missing = dir.file("missing.json");
    EXPECT_FALSE(loadOptionsFile(missing, out, error));
    EXPECT_EQ(error, missing + ": cannot read: No such file or directory");
    EXPECT_FALSE(loadOptionsFile(dir.path(), out, error));
    EXPECT_EQ(error, dir.path() + ": cannot read: not a regular file");
    std::string huge = dir.write("huge.json", std::string(1024 * 1024 + 1, ' '));
    EXPECT_FALSE(loadOptionsFile(huge, out, error));
    EXPECT_EQ(error, huge + ": larger than 1048576 bytes");
}

TEST(ManagerOptionsFile, FailureLeavesTheTargetUnchanged) {
    ManagerTestDir dir;
    Loaded fixed = load(R"({"interfaces": [)" + interfaceEntry + "]}");
    ASSERT_TRUE(fixed.ok) << fixed.error;
    ManagerOptions out = fixed.options;
    std::string error;
    // Fails late: after the lists were read, at the default configuration.
    std::string path = dir.write("bad.json", R"({"channel_counts": [2], "interfaces": []})");
    ASSERT_FALSE(loadOptionsFile(path, out, error));
    EXPECT_TRUE(qel_options_equal(&out.options, &fixed.options.options));
    EXPECT_TRUE(sameConfig(out.defaultConfig, fixed.options.defaultConfig));
    ASSERT_EQ(out.interfaces.size(), 1u);
    EXPECT_TRUE(out.fixedInterfaces);
}

TEST(ManagerOptionsInterfaces, FillCutsNamesAndCountsAndZeroesTheRest) {
    std::vector<ManagerInterface> interfaces(17);
    for (size_t i = 0; i < interfaces.size(); i++) {
        interfaces[i].mac[5] = static_cast<uint8_t>(i + 1);
        interfaces[i].name = u"if" + std::u16string(1, static_cast<char16_t>(u'a' + i));
    }
    // A pair that would straddle the cut is dropped whole.
    interfaces[0].name = std::u16string(62, u'x') + u"\U0001F600";
    qel_options options = defaultManagerOptions().options;
    fillOptionsInterfaces(interfaces, options);
    ASSERT_EQ(options.interfaces.count, QEL_OPTIONS_LIST_MAX);
    EXPECT_EQ(nameOf(options.interfaces.entries[0]), std::u16string(62, u'x'));
    EXPECT_EQ(nameOf(options.interfaces.entries[15]), u"ifp");
    EXPECT_EQ(options.interfaces.entries[15].mac[5], 16);

    fillOptionsInterfaces({interfaces[1]}, options);
    EXPECT_EQ(options.interfaces.count, 1);
    EXPECT_EQ(options.interfaces.entries[1].mac[5], 0);
    EXPECT_EQ(options.interfaces.entries[1].name[0], 0);
}

TEST(ManagerTextForms, MacAndIpv4) {
    uint8_t mac[QEL_MAC_SIZE] = {};
    EXPECT_TRUE(parseMac("00:1B:21:3c:4d:5E", mac));
    EXPECT_EQ(formatMac(mac), "00:1b:21:3c:4d:5e");
    for (const char* bad : {"", "00:1b:21:3c:4d", "00:1b:21:3c:4d:5e:", "00:1b:21:3c:4d:5g",
                            "001b:21:3c:4d:5e:", "0:1b:21:3c:4d:5e0"}) {
        uint8_t untouched[QEL_MAC_SIZE] = {9, 9, 9, 9, 9, 9};
        EXPECT_FALSE(parseMac(bad, untouched)) << bad;
        EXPECT_EQ(untouched[0], 9) << bad;
    }
    uint8_t address[QEL_IP_ADDRESS_SIZE] = {};
    EXPECT_TRUE(parseIpv4("192.168.1.20", address));
    EXPECT_EQ(formatIpv4(address), "192.168.1.20");
    EXPECT_TRUE(parseIpv4("0.0.0.0", address));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "01.2.3.4", "1..3.4", "1.2.3.4 ",
                            "-1.2.3.4", "1234.1.1.1"}) {
        EXPECT_FALSE(parseIpv4(bad, address)) << bad;
    }
}

TEST(ManagerTextForms, Utf8AndUtf16) {
    bool valid = true;
    EXPECT_EQ(utf8ToUtf16("e\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", &valid),
              u"e\u00e9\u20ac\U0001F600");
    EXPECT_TRUE(valid);
    struct Bad {
        std::string text;
        std::u16string expected;
    };
    for (const Bad& bad : {Bad{"a\xFF"
                               "b",
                               u"a\uFFFDb"},
                           Bad{"\xC3", u"\uFFFD"}, Bad{"\xC0\x80", u"\uFFFD\uFFFD"}, // overlong NUL
                           Bad{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // encoded surrogate
                           Bad{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}}) {
        valid = true;
        EXPECT_EQ(utf8ToUtf16(bad.text, &valid), bad.expected);
        EXPECT_FALSE(valid);
    }
    valid = true;
    EXPECT_EQ(utf16ToUtf8(u"e\u00e9\u20ac\U0001F600", &valid),
              "e\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_TRUE(valid);
    std::u16string lone = u"a";
    lone += static_cast<char16_t>(0xD83D);
    lone += u"b";
    EXPECT_EQ(utf16ToUtf8(lone, &valid), "a\xEF\xBF\xBD"
                                         "b");
    EXPECT_FALSE(valid);
}

} // namespace
