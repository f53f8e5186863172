// The texts of the info and options objects (plain and ASIO), and the
// options' channel-count lookups.
#include "QelAsioOptions.h"
#include "QelInfo.h"

#include "record_builders.h"

#include <gtest/gtest.h>

#include <wx/arrstr.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::wstring>;

// A text list as wide strings, so that lists compare and print whole.
Texts texts(const wxArrayString& list) {
    return Texts(list.begin(), list.end());
}

struct VersionCase {
    uint8_t major;
    uint8_t minor;
    uint16_t build;
    const char* suffix; // up to 8 bytes, copied without a terminator
    std::wstring version;
};

class InfoVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(InfoVersion, FormatsTheRecord) {
    qel_info info;
    std::memset(&info, 0, sizeof info);
    info.major = GetParam().major;
    info.minor = GetParam().minor;
    info.build = GetParam().build;
    std::memcpy(info.suffix, GetParam().suffix, std::strlen(GetParam().suffix));
    QelInfo object;
    EXPECT_TRUE(object.getVersion().empty());
    object.update(&info);
    EXPECT_EQ(object.getVersion().ToStdWstring(), GetParam().version);
    EXPECT_EQ(object.getRecord(), &info);
    object.update(nullptr);
    EXPECT_EQ(object.getVersion(), wxString(L"0.0.0"));
    EXPECT_EQ(object.getRecord(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Records, InfoVersion,
                         testing::Values(VersionCase{1, 2, 3, "b", L"1.2.3b"},
                                         VersionCase{1, 2, 3, "", L"1.2.3"},
                                         VersionCase{0, 0, 0, "", L"0.0.0"},
                                         VersionCase{255, 255, 65535, "-rc1", L"255.255.65535-rc1"},
                                         VersionCase{1, 0, 0, "\xE9\xFF", L"1.0.0\u00e9\u00ff"},
                                         VersionCase{1, 2, 3, "ABCDEFGH", L"1.2.3ABCDEFGH"}));

TEST(OptionsTexts, EveryListInRecordOrder) {
    qel_options record = qeltest::sampleOptions();
    const std::u16string name = u"R\u00e9seau \u7db2 \U0001F50C";
    std::memcpy(record.interfaces.entries[1].name, name.data(), (name.size() + 1) * 2);
    record.latencies.entries[0].latency_us = 1500;
    record.asio_latencies.entries[1] = 2500;
    QelAsioOptions options;
    EXPECT_TRUE(options.getChannelCounts().IsEmpty());
    options.update(&record);
    EXPECT_EQ(options.getRecord(), &record);
    EXPECT_EQ(texts(options.getChannelCounts()), (Texts{L"2", L"4", L"8", L"16", L"32", L"64"}));
    EXPECT_EQ(texts(options.getInterfaces()), (Texts{L"eth0", L"R\u00e9seau \u7db2 \U0001F50C"}));
    EXPECT_EQ(texts(options.getSampleRates()), (Texts{L"44100 Hz", L"48000 Hz", L"96000 Hz"}));
    EXPECT_EQ(texts(options.getSampleFormats()), (Texts{L"16 bit", L"24 bit"}));
    EXPECT_EQ(texts(options.getLatencies()), (Texts{L"1 ms", L"2 ms", L"5 ms"}));
    EXPECT_EQ(texts(options.getAsioBufferSizes()), (Texts{L"64", L"128", L"256"}));
    EXPECT_EQ(texts(options.getAsioEncodings()), (Texts{L"16", L"24"}));
    EXPECT_EQ(texts(options.getAsioLatencies()), (Texts{L"1", L"2"}));

    options.update(nullptr);
    EXPECT_EQ(options.getRecord(), nullptr);
    for (const wxArrayString* list :
         {&options.getChannelCounts(), &options.getInterfaces(), &options.getSampleRates(),
          &options.getSampleFormats(), &options.getLatencies(), &options.getAsioBufferSizes(),
          &options.getAsioEncodings(), &options.getAsioLatencies()}) {
        EXPECT_TRUE(list->IsEmpty());
    }
}

TEST(OptionsTexts, ExtremeValuesAndCounts) {
    qel_options record{};
    record.channel_counts = {40, {65535}}; // count beyond the capacity
    record.sample_rates = {1, {{4294967295u, 2}}};
    record.latencies = {2, {{"A", 999}, {"B", 4294967295u}}};
    record.asio_latencies = {1, {4294967295u}};
    QelOptions options;
    options.update(&record);
    EXPECT_EQ(options.getChannelCounts().GetCount(), QEL_OPTIONS_LIST_MAX);
    EXPECT_EQ(options.getChannelCounts()[0], wxString(L"65535"));
    EXPECT_EQ(texts(options.getSampleRates()), (Texts{L"4294967295 Hz"}));
    EXPECT_EQ(texts(options.getLatencies()), (Texts{L"0 ms", L"4294967 ms"}));
    QelAsioOptions asio;
    asio.update(&record);
    EXPECT_EQ(texts(asio.getAsioLatencies()), (Texts{L"4294967"}));
}

struct LimitCase {
    const wchar_t* rate;
    unsigned int maxChannels;
    unsigned int limit;
};

class ChannelLimits : public testing::TestWithParam<LimitCase> {};

TEST_P(ChannelLimits, FollowTheRateTheTextStartsWith) {
    // A malformed entry for rate 0 shows that a text without a number never
    // finds a rate.
    qel_options record{};
    record.channel_counts = {4, {2, 4, 8, 16}};
    record.sample_rates = {5, {{44100, 16}, {48000, 8}, {96000, 1}, {192000, 0}, {0, 4}}};
    QelOptions options;
    EXPECT_EQ(options.getMaxChannels(wxString(GetParam().rate)), 0u);
    EXPECT_EQ(options.getChannelCountLimit(wxString(GetParam().rate)), 0u);
    options.update(&record);
    EXPECT_EQ(options.getMaxChannels(wxString(GetParam().rate)), GetParam().maxChannels);
    EXPECT_EQ(options.getChannelCountLimit(wxString(GetParam().rate)), GetParam().limit);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ChannelLimits,
    testing::Values(LimitCase{L"48000 Hz", 8, 3}, LimitCase{L"44100 Hz", 16, 4},
                    LimitCase{L"96000 Hz", 1, 0}, LimitCase{L"192000 Hz", 0, 0},
                    LimitCase{L"48000", 8, 3}, LimitCase{L"32000 Hz", 0, 0}, LimitCase{L"Hz", 0, 0},
                    LimitCase{L"", 0, 0}, LimitCase{L" 48000 Hz", 0, 0},
                    LimitCase{L"4294967296 Hz", 0, 0}, LimitCase{L"0 Hz", 4, 2}));

TEST(ChannelLimits, FirstCountAboveTheLimitInListOrder) {
    qel_options record{};
    record.channel_counts = {4, {2, 16, 4, 8}};
    record.sample_rates = {1, {{48000, 8}}};
    QelOptions options;
    options.update(&record);
    EXPECT_EQ(options.getChannelCountLimit(wxString(L"48000 Hz")), 1u);
    record.channel_counts = {100, {2, 4}}; // zero slots past the counts, cut at 16
    EXPECT_EQ(options.getChannelCountLimit(wxString(L"48000 Hz")), QEL_OPTIONS_LIST_MAX);
}

} // namespace
