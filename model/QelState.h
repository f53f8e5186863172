// The state the manager reports: its configuration as a configuration object
// of the factory's family, and the sound card's device name.
#pragma once

#include "qel_records.h"

#include <wx/string.h>

class QelConfig;

class QelState {
public:
    // Takes ownership of the configuration object, which the factory made.
    explicit QelState(QelConfig* config);
    QelState(const QelState&) = delete;
    QelState& operator=(const QelState&) = delete;
    virtual ~QelState();

    // Keeps the record (not owned, valid until the next update), updates the
    // configuration object from the options and the state's configuration,
    // and takes the device name; without a state both are emptied.
    virtual void update(const qel_options* options, const qel_state* state);

    const QelConfig* getConfig() const { return m_config; }
    const wxString& getDeviceName() const { return m_deviceName; }
    const qel_state* getRecord() const { return m_record; }

protected:
    const qel_state* m_record;
    QelConfig* m_config; // owned
    wxString m_deviceName;
};
