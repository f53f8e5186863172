#include "QelOptions.h"

#include "QelRecordText.h"

#include <optional>

namespace {

// The sample-rate entry for the rate a text starts with, or none.
const qel_sample_rate* findRate(const qel_options* options, const wxString& sampleRate) {
    if (options == nullptr) {
        return nullptr;
    }
    std::optional<uint32_t> rate = qelParseLeadingNumber(sampleRate);
    if (!rate) {
        return nullptr;
    }
    return qel_options_find_sample_rate(options, *rate);
}

} // namespace

QelOptions::QelOptions() : m_record(nullptr) {}

QelOptions::~QelOptions() = default;

void QelOptions::update(const qel_options* options) {
    m_record = options;
    m_channelCounts.Clear();
    m_interfaces.Clear();
    m_sampleRates.Clear();
    m_sampleFormats.Clear();
    m_latencies.Clear();
    if (options == nullptr) {
        return;
    }
    for (size_t i = 0; i < qelListCount(options->channel_counts); ++i) {
        m_channelCounts.Add(wxString::Format(
            wxT("%u"), static_cast<unsigned int>(options->channel_counts.entries[i])));
    }
    for (size_t i = 0; i < qelListCount(options->interfaces); ++i) {
        m_interfaces.Add(
            qelTextFromUtf16(options->interfaces.entries[i].name, QEL_INTERFACE_NAME_SIZE));
    }
    for (size_t i = 0; i < qelListCount(options->sample_rates); ++i) {
        m_sampleRates.Add(wxString::Format(
            wxT("%u Hz"), static_cast<unsigned int>(options->sample_rates.entries[i].rate_hz)));
    }
    for (size_t i = 0; i < qelListCount(options->sample_formats); ++i) {
        m_sampleFormats.Add(wxString::Format(
            wxT("%u bit"), static_cast<unsigned int>(options->sample_formats.entries[i])));
    }
    for (size_t i = 0; i < qelListCount(options->latencies); ++i) {
        m_latencies.Add(wxString::Format(
            wxT("%u ms"),
            static_cast<unsigned int>(options->latencies.entries[i].latency_us / 1000)));
    }
}

unsigned int QelOptions::getMaxChannels(const wxString& sampleRate) const {
    const qel_sample_rate* rate = findRate(m_record, sampleRate);
    return rate != nullptr ? rate->max_channels : 0;
}

unsigned int QelOptions::getChannelCountLimit(const wxString& sampleRate) const {
    const qel_sample_rate* rate = findRate(m_record, sampleRate);
    if (rate == nullptr) {
        return 0;
    }
    const size_t count = qelListCount(m_record->channel_counts);
    for (size_t i = 0; i < count; ++i) {
        if (m_record->channel_counts.entries[i] > rate->max_channels) {
            return static_cast<unsigned int>(i);
        }
    }
    return static_cast<unsigned int>(count);
}
