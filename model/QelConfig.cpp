#include "QelConfig.h"

#include "QelOptions.h"
#include "QelRecordText.h"

#include <cstring>
#include <optional>

namespace {

const uint8_t k_noMac[QEL_MAC_SIZE] = {};

// The text without its last `suffixLength` characters (the unit is cut by
// length, not compared), read strictly as a number of at most `max`.
std::optional<uint32_t> parseWithSuffix(const wxString& text, size_t suffixLength, uint32_t max) {
    if (text.length() < suffixLength) {
        return std::nullopt;
    }
    return qelParseUnsigned(text.Left(text.length() - suffixLength), max);
}

} // namespace

QelConfig::QelConfig() : m_interfaceMac{}, m_wantToRun(false) {}

QelConfig::~QelConfig() = default;

bool QelConfig::isValid(const QelOptions* options) const {
    if (options == nullptr || options->getRecord() == nullptr) {
        return false;
    }
    qel_config record;
    std::memset(&record, 0, sizeof record);
    return toRecord(options->getRecord(), &record) &&
           qel_config_is_valid(options->getRecord(), &record);
}

void QelConfig::copyFrom(const QelConfig* other) {
    if (other == nullptr || other == this) {
        return;
    }
    m_channels = other->m_channels;
    m_interfaceName = other->m_interfaceName;
    std::memcpy(m_interfaceMac, other->m_interfaceMac, QEL_MAC_SIZE);
    m_sampleRate = other->m_sampleRate;
    m_sampleFormat = other->m_sampleFormat;
    m_latency = other->m_latency;
    m_wantToRun = other->m_wantToRun;
}

void QelConfig::update(const qel_options* options, const qel_config* config) {
    if (options == nullptr || config == nullptr) {
        m_channels.clear();
        m_interfaceName.clear();
        std::memset(m_interfaceMac, 0, QEL_MAC_SIZE);
        m_sampleRate.clear();
        m_sampleFormat.clear();
        m_latency.clear();
        m_wantToRun = false;
        return;
    }
    m_channels = wxString::Format(wxT("%u"), static_cast<unsigned int>(config->channels));
    m_interfaceName = qelTextFromUtf16(config->interface.name, QEL_INTERFACE_NAME_SIZE);
    std::memcpy(m_interfaceMac, config->interface.mac, QEL_MAC_SIZE);
    m_sampleRate =
        wxString::Format(wxT("%u Hz"), static_cast<unsigned int>(config->sample_rate_hz));
    m_sampleFormat =
        wxString::Format(wxT("%u bit"), static_cast<unsigned int>(config->sample_format));
    const qel_latency* latency = qel_options_find_latency_by_name(options, config->latency);
    if (latency != nullptr) {
        m_latency =
            wxString::Format(wxT("%u ms"), static_cast<unsigned int>(latency->latency_us / 1000));
    } else {
        m_latency.clear();
    }
    m_wantToRun = config->want_to_run != 0;
}

bool QelConfig::toRecord(const qel_options* options, qel_config* out) const {
    if (out == nullptr) {
        return false;
    }

    std::optional<uint32_t> channels = qelParseUnsigned(m_channels, UINT16_MAX);
    if (!channels) {
        return false;
    }
    out->channels = static_cast<uint16_t>(*channels);

    const qel_interface* offered = qel_options_find_interface_by_mac(options, m_interfaceMac);
    if (offered != nullptr) {
        size_t i = 0;
        for (; i + 1 < QEL_INTERFACE_NAME_SIZE && offered->name[i] != 0; ++i) {
            out->interface.name[i] = offered->name[i];
        }
        out->interface.name[i] = 0;
        std::memcpy(out->interface.mac, offered->mac, QEL_MAC_SIZE);
    } else if (std::memcmp(m_interfaceMac, k_noMac, QEL_MAC_SIZE) != 0) {
        // An interface no longer offered stays this configuration's own (and
        // the record is then not valid against the options): turning it into
        // "no interface" would make the manager forget the user's choice.
        qelTextToUtf16(m_interfaceName, out->interface.name, QEL_INTERFACE_NAME_SIZE);
        std::memcpy(out->interface.mac, m_interfaceMac, QEL_MAC_SIZE);
    }

    std::optional<uint32_t> rate = parseWithSuffix(m_sampleRate, 3, UINT32_MAX);
    if (!rate) {
        return false;
    }
    out->sample_rate_hz = *rate;

    std::optional<uint32_t> format = parseWithSuffix(m_sampleFormat, 4, UINT16_MAX);
    if (!format) {
        return false;
    }
    out->sample_format = static_cast<uint16_t>(*format);

    // Milliseconds times 1000 must still be a 32-bit number of microseconds.
    std::optional<uint32_t> milliseconds = parseWithSuffix(m_latency, 3, UINT32_MAX / 1000);
    if (!milliseconds) {
        return false;
    }
    const qel_latency* latency = qel_options_find_latency_by_us(options, *milliseconds * 1000);
    if (latency == nullptr) {
        return false;
    }
    size_t i = 0;
    for (; i + 1 < QEL_LATENCY_NAME_SIZE && latency->name[i] != 0; ++i) {
        out->latency[i] = latency->name[i];
    }
    out->latency[i] = 0;

    out->want_to_run = m_wantToRun ? 1 : 0;
    return true;
}
