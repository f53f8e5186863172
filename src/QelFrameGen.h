// Generated layout base of the main window: an empty, centred frame whose
// close and minimise/restore events go to virtual handlers that let them
// pass on. The hand-written main window derives from it.
#pragma once

#include <wx/event.h>
#include <wx/frame.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

class QelFrameGen : public wxFrame {
public:
    QelFrameGen(wxWindow* parent, wxWindowID id = wxID_ANY, const wxString& title = wxT("Qelvane"),
                const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(595, 400),
                long style = wxDEFAULT_FRAME_STYLE | wxTAB_TRAVERSAL);
    ~QelFrameGen() override;

    QelFrameGen(const QelFrameGen&) = delete;
    QelFrameGen& operator=(const QelFrameGen&) = delete;

protected:
    // Handlers in slot order; each default lets the event pass on.
    virtual void OnClose(wxCloseEvent& event) { event.Skip(); }
    virtual void OnIconize(wxIconizeEvent& event) { event.Skip(); }
};
