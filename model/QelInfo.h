// The manager's version as the window shows it.
#pragma once

#include "qel_records.h"

#include <wx/string.h>

class QelInfo {
public:
    QelInfo();
    QelInfo(const QelInfo&) = delete;
    QelInfo& operator=(const QelInfo&) = delete;
    virtual ~QelInfo();

    // Keeps the record (not owned, valid until the next update) and makes the
    // version text: "0.0.0" without a record, otherwise "major.minor.build"
    // with the suffix appended directly.
    virtual void update(const qel_info* info);

    const wxString& getVersion() const { return m_version; }
    const qel_info* getRecord() const { return m_record; }

protected:
    const qel_info* m_record;
    wxString m_version;
};
