// The choices the manager offers, as the texts the choice controls show, in
// record order.
#pragma once

#include "qel_records.h"

#include <wx/arrstr.h>
#include <wx/string.h>

class QelOptions {
public:
    QelOptions();
    QelOptions(const QelOptions&) = delete;
    QelOptions& operator=(const QelOptions&) = delete;
    virtual ~QelOptions();

    // Keeps the record (not owned, valid until the next update) and remakes
    // the lists; without a record they stay empty.
    virtual void update(const qel_options* options);

    const wxArrayString& getChannelCounts() const { return m_channelCounts; }
    const wxArrayString& getInterfaces() const { return m_interfaces; }
    const wxArrayString& getSampleRates() const { return m_sampleRates; }
    const wxArrayString& getSampleFormats() const { return m_sampleFormats; }
    const wxArrayString& getLatencies() const { return m_latencies; }
    const qel_options* getRecord() const { return m_record; }

    // The largest channel count of the offered sample rate the text starts
    // with ("48000 Hz"); 0 when that rate is not offered or there is no record.
    unsigned int getMaxChannels(const wxString& sampleRate) const;

    // The index of the first offered channel count above that rate's largest
    // channel count, or the number of channel counts when none is above it:
    // with ascending counts, how many choices are usable at the rate. 0 when
    // the rate is not offered or there is no record.
    unsigned int getChannelCountLimit(const wxString& sampleRate) const;

protected:
    const qel_options* m_record;
    wxArrayString m_channelCounts; // "%u"
    wxArrayString m_interfaces;    // the names as reported
    wxArrayString m_sampleRates;   // "%u Hz"
    wxArrayString m_sampleFormats; // "%u bit"
    wxArrayString m_latencies;     // "%u ms", whole milliseconds rounded down
};
