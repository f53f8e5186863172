#include "QelFrameGen.h"

#include <wx/colour.h>
#include <wx/sizer.h>

QelFrameGen::QelFrameGen(wxWindow* parent, wxWindowID id, const wxString& title, const wxPoint& pos,
                         const wxSize& size, long style)
    : wxFrame(parent, id, title, pos, size, style, wxT("frame")) {
    SetSizeHints(wxSize(595, 400), wxDefaultSize);
    SetBackgroundColour(wxColour(224, 224, 224));

    wxBoxSizer* frameSizer = new wxBoxSizer(wxVERTICAL);
    SetSizer(frameSizer);
    Layout();
    Centre(wxBOTH);

    Bind(wxEVT_CLOSE_WINDOW, &QelFrameGen::OnClose, this);
    Bind(wxEVT_ICONIZE, &QelFrameGen::OnIconize, this);
}

QelFrameGen::~QelFrameGen() {
    Unbind(wxEVT_CLOSE_WINDOW, &QelFrameGen::OnClose, this);
    Unbind(wxEVT_ICONIZE, &QelFrameGen::OnIconize, this);
}
