// The configuration objects (plain and ASIO): texts from records, conversion
// back into a record, the validity check and copying.
#include "QelAsioConfig.h"
#include "QelAsioOptions.h"

#include "record_builders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace {

qel_config zeroConfig() {
    qel_config c;
    std::memset(&c, 0, sizeof c);
    return c;
}

void setLatencyName(qel_config& record, const char* name) {
    std::memset(record.latency, 0, sizeof record.latency);
    std::memcpy(record.latency, name, std::strlen(name));
}

// Every text of the object joined, so that one comparison checks them all.
std::wstring allTexts(const QelConfig& c) {
    std::wstring all = (c.m_channels + L"|" + c.m_interfaceName + L"|" + c.m_sampleRate + L"|" +
                        c.m_sampleFormat + L"|" + c.m_latency + L"|")
                           .ToStdWstring();
    all += c.m_wantToRun ? L"run|" : L"stop|";
    for (uint8_t byte : c.m_interfaceMac) {
        all += std::to_wstring(byte) + L".";
    }
    if (const auto* a = dynamic_cast<const QelAsioConfig*>(&c)) {
        all += (L"|" + a->m_audioInterface + L"|" + a->m_asioBufferSize + L"|" + a->m_asioEncoding +
                L"|" + a->m_asioLatency)
                   .ToStdWstring();
    }
    return all;
}

const std::wstring k_sampleTexts = L"16|eth0|48000 Hz|24 bit|2 ms|run|0.27.33.60.77.94.";
const std::wstring k_emptyTexts = L"|||||stop|0.0.0.0.0.0.";

class ConfigTest : public testing::Test {
protected:
    void SetUp() override {
        asio.update(&options, &record);
        offered.update(&options);
    }
    bool convert(const QelConfig& config) {
        out = zeroConfig();
        return config.toRecord(&options, &out);
    }
    qel_options options = qeltest::sampleOptions();
    qel_config record = qeltest::sampleConfig(); // WDM, ASIO 2000 us / 128 / 24
    QelAsioConfig asio;
    QelAsioOptions offered;
    qel_config out{};
};

TEST_F(ConfigTest, UpdateMakesTheTextsAndMissingRecordsEmptyThem) {
    EXPECT_EQ(allTexts(asio), k_sampleTexts + L"|WDM|128|24|2");
    QelConfig plain;
    EXPECT_EQ(allTexts(plain), k_emptyTexts);
    plain.update(&options, &record);
    EXPECT_EQ(allTexts(plain), k_sampleTexts);
    plain.update(&options, nullptr);
    EXPECT_EQ(allTexts(plain), k_emptyTexts);
    asio.update(&options, nullptr);
    EXPECT_EQ(allTexts(asio), k_emptyTexts + L"||||");
    asio.update(nullptr, &record); // the ASIO texts need no options
    EXPECT_EQ(allTexts(asio), k_emptyTexts + L"|WDM|128|24|2");
}

class LatencyText : public ConfigTest,
                    public testing::WithParamInterface<std::pair<const char*, const wchar_t*>> {};

TEST_P(LatencyText, ComesFromTheNamedEntry) {
    options.latencies.count = 4;
    options.latencies.entries[3] = {"Odd", 1500};
    setLatencyName(record, GetParam().first);
    asio.update(&options, &record);
    EXPECT_EQ(asio.m_latency, wxString(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Names, LatencyText,
                         testing::Values(std::make_pair("Low", L"1 ms"),
                                         std::make_pair("High", L"5 ms"),
                                         std::make_pair("Odd", L"1 ms"),
                                         std::make_pair("medium", L""), // names are exact
                                         std::make_pair("Ultra", L""), std::make_pair("", L"")));

class AudioInterface : public ConfigTest,
                       public testing::WithParamInterface<std::pair<uint32_t, const wchar_t*>> {};

TEST_P(AudioInterface, TextAndConversion) {
    record.audio_interface = GetParam().first;
    asio.update(&options, &record);
    EXPECT_EQ(asio.m_audioInterface, wxString(GetParam().second));
    const bool known = GetParam().first <= QEL_AUDIO_INTERFACE_WDM;
    EXPECT_EQ(convert(asio), known);
    if (known) {
        EXPECT_EQ(std::memcmp(&out, &record, sizeof out), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, AudioInterface,
                         testing::Values(std::make_pair(0u, L"ASIO"), std::make_pair(1u, L"WDM"),
                                         std::make_pair(2u, L""),
                                         std::make_pair(0xFFFFFFFFu, L"")));

TEST_F(ConfigTest, PlainConversionLeavesTheAsioFields) {
    QelConfig plain;
    plain.update(&options, &record);
    ASSERT_TRUE(convert(plain));
    EXPECT_EQ(out.channels, 16);
    EXPECT_EQ(out.sample_rate_hz, 48000u);
    EXPECT_EQ(out.sample_format, 24);
    EXPECT_STREQ(out.latency, "Medium"); // the 2000 us entry
    EXPECT_EQ(out.want_to_run, 1u);
    record.audio_interface = record.asio_latency_us = record.asio_buffer_size = 0;
    record.asio_encoding = 0;
    EXPECT_EQ(std::memcmp(&out, &record, sizeof out), 0);
}

// One text changed from the sample configuration's, and whether it converts.
struct TextCase {
    wxString QelAsioConfig::*member;
    const wchar_t* text;
    bool converts;
};

class TextConversion : public ConfigTest, public testing::WithParamInterface<TextCase> {};

TEST_P(TextConversion, ConvertsOnlyUnsignedDecimals) {
    asio.*(GetParam().member) = GetParam().text;
    EXPECT_EQ(convert(asio), GetParam().converts) << wxString(GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextConversion,
    testing::Values(TextCase{&QelAsioConfig::m_channels, L"", false},
                    TextCase{&QelAsioConfig::m_channels, L"-16", false},
                    TextCase{&QelAsioConfig::m_channels, L"16x", false},
                    TextCase{&QelAsioConfig::m_channels, L"65535", true},
                    TextCase{&QelAsioConfig::m_channels, L"65536", false},
                    TextCase{&QelAsioConfig::m_sampleRate, L" Hz", false},
                    TextCase{&QelAsioConfig::m_sampleRate, L"-48000 Hz", false},
                    TextCase{&QelAsioConfig::m_sampleRate, L"48000kHz", true}, // cut by length
                    TextCase{&QelAsioConfig::m_sampleRate, L"4294967296 Hz", false},
                    TextCase{&QelAsioConfig::m_sampleFormat, L"24", false},
                    TextCase{&QelAsioConfig::m_sampleFormat, L"65536 bit", false},
                    TextCase{&QelAsioConfig::m_latency, L"2ms", false},
                    TextCase{&QelAsioConfig::m_latency, L"5 ms", true},
                    TextCase{&QelAsioConfig::m_latency, L"3 ms", false}, // not offered
                    TextCase{&QelAsioConfig::m_latency, L"4294968 ms", false},
                    TextCase{&QelAsioConfig::m_audioInterface, L"asio", false},
                    TextCase{&QelAsioConfig::m_audioInterface, L"ASIO ", false},
                    TextCase{&QelAsioConfig::m_audioInterface, L"ASIO", true},
                    TextCase{&QelAsioConfig::m_asioBufferSize, L"128 samples", false},
                    TextCase{&QelAsioConfig::m_asioBufferSize, L"4294967296", false},
                    TextCase{&QelAsioConfig::m_asioEncoding, L" 24", false},
                    TextCase{&QelAsioConfig::m_asioEncoding, L"4294967296", false},
                    TextCase{&QelAsioConfig::m_asioLatency, L"2 ms", false},
                    TextCase{&QelAsioConfig::m_asioLatency, L"4294968", false}));

TEST_F(ConfigTest, NumbersAreStored) {
    asio.m_asioBufferSize = L"4294967295";
    asio.m_asioEncoding = L"65560"; // 0x10018: the low 16 bits are kept
    asio.m_asioLatency = L"4294967";
    ASSERT_TRUE(convert(asio));
    EXPECT_EQ(out.asio_buffer_size, 4294967295u);
    EXPECT_EQ(out.asio_encoding, 24);
    EXPECT_EQ(out.asio_latency_us, 4294967000u);
}

TEST_F(ConfigTest, SampleRateWithoutSuffixLosesThreeDigits) {
    EXPECT_TRUE(asio.isValid(&offered));
    asio.m_sampleRate = L"48000";
    ASSERT_TRUE(convert(asio));
    EXPECT_EQ(out.sample_rate_hz, 48u);
    EXPECT_FALSE(asio.isValid(&offered));
}

TEST_F(ConfigTest, FractionalLatenciesConvertToWholeMilliseconds) {
    options.latencies = {1, {{"Odd", 1500}}};
    setLatencyName(record, "Odd");
    record.asio_latency_us = 2500;
    asio.update(&options, &record);
    EXPECT_EQ(asio.m_latency, wxString(L"1 ms"));
    EXPECT_EQ(asio.m_asioLatency, wxString(L"2"));
    EXPECT_FALSE(convert(asio)); // looks for a 1000 us entry
    options.latencies = {2, {{"Odd", 1500}, {"Whole", 1000}}};
    ASSERT_TRUE(convert(asio));
    EXPECT_STREQ(out.latency, "Whole");
    EXPECT_EQ(out.asio_latency_us, 2000u);
    options.asio_latencies = {1, {2500}};
    EXPECT_FALSE(asio.isValid(&offered));
    options.asio_latencies = {1, {2000}};
    EXPECT_TRUE(asio.isValid(&offered));
}

TEST_F(ConfigTest, InterfaceComesFromTheOfferedEntry) {
    const std::u16string name = u"R\u00e9seau \u7db2 \U0001F50C";
    std::memcpy(options.interfaces.entries[1].name, name.data(), (name.size() + 1) * 2);
    record.interface = options.interfaces.entries[1];
    asio.update(&options, &record);
    EXPECT_EQ(asio.m_interfaceName, wxString(L"R\u00e9seau \u7db2 \U0001F50C"));
    asio.m_interfaceName = L"ignored";
    ASSERT_TRUE(convert(asio));
    EXPECT_EQ(std::u16string(out.interface.name), name);
    EXPECT_EQ(std::memcmp(out.interface.mac, options.interfaces.entries[1].mac, 6), 0);

    // An interface no longer offered (unplugged) stays the configuration's
    // own: turned into "no interface" it would make the manager forget it.
    // It is not valid against these options, so it is never sent.
    asio.m_interfaceMac[5] ^= 0xFF;
    asio.m_interfaceName = L"eth9";
    ASSERT_TRUE(convert(asio));
    EXPECT_EQ(std::u16string(out.interface.name), u"eth9");
    EXPECT_EQ(std::memcmp(out.interface.mac, asio.m_interfaceMac, 6), 0);
    EXPECT_FALSE(asio.isValid(&offered));

    // No interface chosen (a zero MAC) stays none, and is valid.
    std::memset(asio.m_interfaceMac, 0, sizeof asio.m_interfaceMac);
    ASSERT_TRUE(convert(asio));
    const qel_interface zero{};
    EXPECT_EQ(std::memcmp(&out.interface, &zero, sizeof zero), 0);
    EXPECT_TRUE(asio.isValid(&offered));
}

TEST_F(ConfigTest, UnterminatedNamesAreCutToTheirCapacity) {
    for (char16_t& unit : options.interfaces.entries[0].name) {
        unit = u'n';
    }
    std::memset(options.latencies.entries[1].name, 'm', QEL_LATENCY_NAME_SIZE);
    ASSERT_TRUE(convert(asio));
    EXPECT_EQ(std::u16string(out.interface.name), std::u16string(63, u'n'));
    EXPECT_EQ(std::string(out.latency), std::string(31, 'm'));
}

TEST_F(ConfigTest, ConversionFailsWithoutWhatItNeeds) {
    EXPECT_FALSE(QelAsioConfig().toRecord(&options, &out)); // never updated
    EXPECT_FALSE(QelConfig().toRecord(&options, &out));
    EXPECT_FALSE(asio.toRecord(nullptr, &out)); // no latency entry to find
    EXPECT_FALSE(asio.toRecord(&options, nullptr));
    EXPECT_FALSE(asio.isValid(nullptr));
    EXPECT_FALSE(asio.isValid(std::make_unique<QelOptions>().get())); // no record
}

TEST_F(ConfigTest, ValidityUsesTheVirtualConversion) {
    QelConfig& base = asio;
    EXPECT_TRUE(base.isValid(&offered));
    asio.m_audioInterface = L"asio";
    EXPECT_FALSE(base.isValid(&offered));
    asio.m_audioInterface = L"ASIO";
    asio.m_channels = L"64";
    asio.m_sampleRate = L"96000 Hz"; // 32 channels at most
    EXPECT_FALSE(base.isValid(&offered));

    // A plain object leaves the ASIO fields zero, and they must be offered.
    QelConfig plain;
    plain.update(&options, &record);
    EXPECT_FALSE(plain.isValid(&offered));
    options.asio_latencies = options.asio_buffer_sizes = {1, {0}};
    options.asio_encodings = {1, {0}};
    EXPECT_TRUE(plain.isValid(&offered));
}

TEST_F(ConfigTest, CopyTakesEveryMember) {
    QelAsioConfig copy;
    copy.copyFrom(&asio);
    EXPECT_EQ(allTexts(copy), k_sampleTexts + L"|WDM|128|24|2");
    QelConfig plain;
    plain.copyFrom(&asio);
    EXPECT_EQ(allTexts(plain), k_sampleTexts);
    plain.m_channels = L"8";
    copy.copyFrom(&plain); // a plain object has no ASIO texts
    EXPECT_EQ(allTexts(copy), L"8" + k_sampleTexts.substr(2) + L"||||");
    copy.copyFrom(&copy);
    copy.copyFrom(nullptr);
    EXPECT_EQ(allTexts(copy), L"8" + k_sampleTexts.substr(2) + L"||||");
    copy.copyFrom(std::make_unique<QelAsioConfig>().get());
    EXPECT_EQ(allTexts(copy), k_emptyTexts + L"||||");
}

} // namespace
