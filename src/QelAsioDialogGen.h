// Generated layout base of the ASIO options dialog: the ASIO buffer size,
// encoding and latency choices, each between its label and its unit, and the
// OK button. The choices' selections and the button's click go to virtual
// handlers that let them pass on; QelAsioDialog gives them behaviour.
#pragma once

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/gdicmn.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/string.h>

class QelAsioDialogGen : public wxDialog {
public:
    QelAsioDialogGen(wxWindow* parent, wxWindowID id = wxID_ANY,
                     const wxString& title = wxT("QEL: ASIO Options"),
                     const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(327, 197),
                     long style = wxCAPTION);
    ~QelAsioDialogGen() override;

    QelAsioDialogGen(const QelAsioDialogGen&) = delete;
    QelAsioDialogGen& operator=(const QelAsioDialogGen&) = delete;

protected:
    // Member windows, in creation order.
    wxStaticText* m_asioBufferSizeLabel;
    wxChoice* m_asioBufferSizeChoice;
    wxStaticText* m_asioBufferSizeUnit;
    wxStaticText* m_asioEncodingLabel;
    wxChoice* m_asioEncodingChoice;
    wxStaticText* m_asioEncodingUnit;
    wxStaticText* m_asioLatencyLabel;
    wxChoice* m_asioLatencyChoice;
    wxStaticText* m_asioLatencyUnit;
    wxStdDialogButtonSizer* m_buttonSizer;
    wxButton* m_okButton;

    // Handlers in slot order; each default lets the event pass on.
    virtual void OnBufferSize(wxCommandEvent& event) { event.Skip(); }
    virtual void OnEncoding(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLatency(wxCommandEvent& event) { event.Skip(); }
    virtual void OnOK(wxCommandEvent& event) { event.Skip(); }

private:
    // Connects (true) or disconnects (false) every event route, so that the
    // destructor removes exactly what the constructor added.
    void route(bool connect);
};
