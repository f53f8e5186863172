#include "QelAsioConfig.h"

#include "QelRecordText.h"

#include <optional>

QelAsioConfig::QelAsioConfig() = default;

QelAsioConfig::~QelAsioConfig() = default;

void QelAsioConfig::copyFrom(const QelConfig* other) {
    if (other == nullptr || other == this) {
        return;
    }
    QelConfig::copyFrom(other);
    const QelAsioConfig* asio = dynamic_cast<const QelAsioConfig*>(other);
    if (asio == nullptr) {
        m_audioInterface.clear();
        m_asioBufferSize.clear();
        m_asioEncoding.clear();
        m_asioLatency.clear();
        return;
    }
    m_audioInterface = asio->m_audioInterface;
    m_asioBufferSize = asio->m_asioBufferSize;
    m_asioEncoding = asio->m_asioEncoding;
    m_asioLatency = asio->m_asioLatency;
}

void QelAsioConfig::update(const qel_options* options, const qel_config* config) {
    QelConfig::update(options, config);
    if (config == nullptr) {
        m_audioInterface.clear();
        m_asioBufferSize.clear();
        m_asioEncoding.clear();
        m_asioLatency.clear();
        return;
    }
    if (config->audio_interface == QEL_AUDIO_INTERFACE_ASIO) {
        m_audioInterface = wxT("ASIO");
    } else if (config->audio_interface == QEL_AUDIO_INTERFACE_WDM) {
        m_audioInterface = wxT("WDM");
    } else {
        m_audioInterface.clear();
    }
    m_asioBufferSize =
        wxString::Format(wxT("%u"), static_cast<unsigned int>(config->asio_buffer_size));
    m_asioEncoding = wxString::Format(wxT("%u"), static_cast<unsigned int>(config->asio_encoding));
    m_asioLatency =
        wxString::Format(wxT("%u"), static_cast<unsigned int>(config->asio_latency_us / 1000));
}

bool QelAsioConfig::toRecord(const qel_options* options, qel_config* out) const {
    if (!QelConfig::toRecord(options, out) || out == nullptr) {
        return false;
    }

    if (m_audioInterface == wxT("ASIO")) {
        out->audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    } else if (m_audioInterface == wxT("WDM")) {
        out->audio_interface = QEL_AUDIO_INTERFACE_WDM;
    } else {
        return false;
    }

    std::optional<uint32_t> bufferSize = qelParseUnsigned(m_asioBufferSize, UINT32_MAX);
    if (!bufferSize) {
        return false;
    }
    out->asio_buffer_size = *bufferSize;

    std::optional<uint32_t> encoding = qelParseUnsigned(m_asioEncoding, UINT32_MAX);
    if (!encoding) {
        return false;
    }
    out->asio_encoding = static_cast<uint16_t>(*encoding & 0xFFFF);

    // Milliseconds times 1000 must still be a 32-bit number of microseconds.
    std::optional<uint32_t> milliseconds = qelParseUnsigned(m_asioLatency, UINT32_MAX / 1000);
    if (!milliseconds) {
        return false;
    }
    out->asio_latency_us = *milliseconds * 1000;
    return true;
}
