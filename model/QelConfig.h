// One configuration as the texts the choice controls show, convertible back
// into a configuration record. The windows read and write the members
// directly: they set the texts the user picked and then send the object.
#pragma once

#include "qel_records.h"

#include <wx/string.h>

#include <cstdint>

class QelOptions;

class QelConfig {
public:
    QelConfig();
    QelConfig(const QelConfig&) = delete;
    QelConfig& operator=(const QelConfig&) = delete;
    virtual ~QelConfig();

    // True when the texts convert (toRecord) against the options object's
    // record and the result is valid against it. False without options or
    // without their record.
    virtual bool isValid(const QelOptions* options) const;

    // Copies every member of the other object; nothing happens without one.
    virtual void copyFrom(const QelConfig* other);

    // Makes the texts from the records; with either record missing every
    // text is emptied, the MAC zeroed and m_wantToRun cleared. The latency
    // text comes from the offered entry the configuration names, and stays
    // empty when no entry has that name.
    virtual void update(const qel_options* options, const qel_config* config);

    // Fills `out`, which the caller has zero-filled, from the texts; false at
    // the first text that does not convert. The interface is the offered one
    // with m_interfaceMac, or, when none is, this configuration's own name
    // and MAC (all zero: no interface), and the latency is the
    // offered entry with the text's milliseconds, which must exist. The
    // audio interface and ASIO fields are left alone.
    virtual bool toRecord(const qel_options* options, qel_config* out) const;

    wxString m_channels;                  // "%u"
    wxString m_interfaceName;             // as the manager reports it
    uint8_t m_interfaceMac[QEL_MAC_SIZE]; // all zero: none
    wxString m_sampleRate;                // "%u Hz"
    wxString m_sampleFormat;              // "%u bit"
    wxString m_latency;                   // "%u ms", or empty
    bool m_wantToRun;
};
