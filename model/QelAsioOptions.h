// The offered choices with the ASIO buffer sizes, encodings and latencies.
#pragma once

#include "QelOptions.h"

class QelAsioOptions : public QelOptions {
public:
    QelAsioOptions();
    ~QelAsioOptions() override;

    // The plain lists, then the three ASIO lists in record order; without a
    // record all stay empty.
    void update(const qel_options* options) override;

    const wxArrayString& getAsioBufferSizes() const { return m_asioBufferSizes; }
    const wxArrayString& getAsioEncodings() const { return m_asioEncodings; }
    const wxArrayString& getAsioLatencies() const { return m_asioLatencies; }

protected:
    wxArrayString m_asioBufferSizes; // samples, "%u"
    wxArrayString m_asioEncodings;   // bits per sample, "%u"
    wxArrayString m_asioLatencies;   // whole milliseconds rounded down, "%u"
};
