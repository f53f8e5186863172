// The main panel of the ASIO family, the one the user sees: the audio
// interface choice (WDM or ASIO), the ASIO button, the line telling whether
// an ASIO application is connected, and the rule that 96000 Hz is offered
// only with the ASIO interface. Everything else is QelPanel's.
#pragma once

#include "QelGuiPanel.h"

class QelAsioPanel : public QelPanel {
public:
    // The platform button is labelled "ASIO".
    QelAsioPanel(wxWindow* parent, QelFactory* factory, QelImageManager* images);

    // QelPanel's display, after offering 96000 Hz in the options object only
    // in ASIO mode (the audio interface in force is "ASIO"); then the audio
    // interface choice and the status line. Outside ASIO mode the ASIO and
    // Advanced buttons are disabled.
    void setOptionsState(QelOptions* options, const QelState* state) override;
    // QelPanel's values plus the selected audio interface (kept as it is
    // when none is selected).
    void applyToConfig(QelConfig& config) override;

protected:
    void OnPlatformButton(wxCommandEvent& event) override;
};
