#include "QelAsioOptions.h"

#include "QelRecordText.h"

QelAsioOptions::QelAsioOptions() = default;

QelAsioOptions::~QelAsioOptions() = default;

void QelAsioOptions::update(const qel_options* options) {
    QelOptions::update(options);
    m_asioBufferSizes.Clear();
    m_asioEncodings.Clear();
    m_asioLatencies.Clear();
    if (options == nullptr) {
        return;
    }
    for (size_t i = 0; i < qelListCount(options->asio_buffer_sizes); ++i) {
        m_asioBufferSizes.Add(wxString::Format(
            wxT("%u"), static_cast<unsigned int>(options->asio_buffer_sizes.entries[i])));
    }
    for (size_t i = 0; i < qelListCount(options->asio_encodings); ++i) {
        m_asioEncodings.Add(wxString::Format(
            wxT("%u"), static_cast<unsigned int>(options->asio_encodings.entries[i])));
    }
    for (size_t i = 0; i < qelListCount(options->asio_latencies); ++i) {
        m_asioLatencies.Add(wxString::Format(
            wxT("%u"), static_cast<unsigned int>(options->asio_latencies.entries[i] / 1000)));
    }
}
