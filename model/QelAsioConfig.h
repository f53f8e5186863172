// A configuration with the audio interface (ASIO or WDM) and the ASIO buffer
// size, encoding and latency as texts.
#pragma once

#include "QelConfig.h"

class QelAsioConfig : public QelConfig {
public:
    QelAsioConfig();
    ~QelAsioConfig() override;

    // The plain members, then the four ASIO texts. A configuration object
    // of the plain family has none, so they are emptied.
    void copyFrom(const QelConfig* other) override;

    // The plain texts, then, when a configuration record is given, the ASIO
    // texts: "ASIO" for 0, "WDM" for 1, empty for any other audio interface;
    // the latency in whole milliseconds rounded down. Without a configuration
    // record the ASIO texts are emptied as well.
    void update(const qel_options* options, const qel_config* config) override;

    // The plain conversion, then the audio interface (exactly "ASIO" or
    // "WDM"), the buffer size, the encoding (low 16 bits of the number) and
    // the latency (milliseconds times 1000); false at the first failure.
    bool toRecord(const qel_options* options, qel_config* out) const override;

    wxString m_audioInterface; // "ASIO", "WDM" or empty
    wxString m_asioBufferSize; // "%u"
    wxString m_asioEncoding;   // "%u"
    wxString m_asioLatency;    // "%u" milliseconds
};
