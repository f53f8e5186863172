// Generated layout base of the advanced options dialog: the channel-count
// slider between its label and the text showing the chosen count, and the OK
// button. The slider's scroll events and the button's click go to virtual
// handlers that let them pass on; QelAdvancedDialog gives them behaviour.
#pragma once

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/gdicmn.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/string.h>

class QelAdvancedDialogGen : public wxDialog {
public:
    QelAdvancedDialogGen(wxWindow* parent, wxWindowID id = wxID_ANY,
                         const wxString& title = wxT("QEL: Advanced Options"),
                         const wxPoint& pos = wxDefaultPosition,
                         const wxSize& size = wxSize(300, 140), long style = wxCAPTION);
    ~QelAdvancedDialogGen() override;

    QelAdvancedDialogGen(const QelAdvancedDialogGen&) = delete;
    QelAdvancedDialogGen& operator=(const QelAdvancedDialogGen&) = delete;

protected:
    // Member windows, in creation order.
    wxStaticText* m_channelsLabel;
    wxSlider* m_channelsSlider;
    wxStaticText* m_channelsText;
    wxStdDialogButtonSizer* m_buttonSizer;
    wxButton* m_okButton;

    // Handlers in slot order; each default lets the event pass on.
    // Every scroll event of the slider comes here.
    virtual void OnScroll(wxScrollEvent& event) { event.Skip(); }
    virtual void OnOK(wxCommandEvent& event) { event.Skip(); }

private:
    // Connects (true) or disconnects (false) every event route, so that the
    // destructor removes exactly what the constructor added.
    void route(bool connect);
};
