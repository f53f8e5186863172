// Generated layout base of the main panel: a notebook with the Settings and
// About pages, every control of the panel placed with sizers, and the
// controls' events routed to virtual handlers that let them pass on. The
// hand-written panels derive from it and give the handlers their behaviour.
#pragma once

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/event.h>
#include <wx/gdicmn.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

class QelPanelGen : public wxPanel {
public:
    QelPanelGen(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxSize(595, -1), long style = wxTAB_TRAVERSAL);
    ~QelPanelGen() override;

    QelPanelGen(const QelPanelGen&) = delete;
    QelPanelGen& operator=(const QelPanelGen&) = delete;

protected:
    // Member windows, in creation order.
    wxNotebook* m_notebook;
    wxPanel* m_settingsPage;
    wxPanel* m_spacerPanel;
    wxStaticBitmap* m_logoBitmap;
    wxStaticText* m_titleText;
    wxBitmapButton* m_powerButton;
    wxStaticText* m_interfaceLabel;
    wxChoice* m_interfaceChoice;
    wxStaticText* m_formatLabel;
    wxChoice* m_sampleRateChoice;
    wxChoice* m_encodingChoice;
    wxStaticText* m_latencyLabel;
    wxChoice* m_latencyChoice;
    wxStaticBitmap* m_networkBitmap;
    wxChoice* m_networkChoice;
    wxStaticText* m_ipLabel;
    wxStaticText* m_ipText;
    wxStaticText* m_macLabel;
    wxStaticText* m_macText;
    wxStaticText* m_statusText;
    wxButton* m_platformButton;
    wxButton* m_advancedButton;
    wxBitmapButton* m_helpButton;
    wxPanel* m_aboutPage;
    wxStaticBitmap* m_aboutLogoBitmap;
    wxStaticText* m_aboutTitleText;
    wxStaticText* m_versionLabel;
    wxStaticText* m_versionText;

    // Handlers in slot order; each default lets the event pass on.
    virtual void OnPowerButton(wxCommandEvent& event) { event.Skip(); }
    virtual void OnPowerLeftDown(wxMouseEvent& event) { event.Skip(); }
    virtual void OnPowerLeftUp(wxMouseEvent& event) { event.Skip(); }
    // Both the audio interface and the sample rate choice come here.
    virtual void OnInterfaceChoice(wxCommandEvent& event) { event.Skip(); }
    virtual void OnEncodingChoice(wxCommandEvent& event) { event.Skip(); }
    virtual void OnLatencyChoice(wxCommandEvent& event) { event.Skip(); }
    virtual void OnNetworkChoice(wxCommandEvent& event) { event.Skip(); }
    virtual void OnPlatformButton(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAdvancedButton(wxCommandEvent& event) { event.Skip(); }
    virtual void OnHelpButton(wxCommandEvent& event) { event.Skip(); }

private:
    // Connects (true) or disconnects (false) every event route of the panel,
    // so that the destructor removes exactly what the constructor added.
    void route(bool connect);

    template <typename Tag, typename Event>
    void link(bool connect, wxEvtHandler* source, const Tag& type,
              void (QelPanelGen::*handler)(Event&)) {
        if (connect) {
            source->Bind(type, handler, this);
        } else {
            source->Unbind(type, handler, this);
        }
    }
};
