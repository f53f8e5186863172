#include "QelAdvancedDialogGen.h"

namespace {

// The nine scroll event types a slider sends: every one of them moves the
// channel count.
const wxEventTypeTag<wxScrollEvent>* const k_scrollEvents[] = {
    &wxEVT_SCROLL_TOP,        &wxEVT_SCROLL_BOTTOM,       &wxEVT_SCROLL_LINEUP,
    &wxEVT_SCROLL_LINEDOWN,   &wxEVT_SCROLL_PAGEUP,       &wxEVT_SCROLL_PAGEDOWN,
    &wxEVT_SCROLL_THUMBTRACK, &wxEVT_SCROLL_THUMBRELEASE, &wxEVT_SCROLL_CHANGED,
};

} // namespace

// The outer grid has two rows, of which both grow; the toolkit rejects a
// growable row that the grid does not have.
QelAdvancedDialogGen::QelAdvancedDialogGen(wxWindow* parent, wxWindowID id, const wxString& title,
                                           const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxT("dialog")) {
    SetSizeHints(wxSize(300, 140), wxDefaultSize);

    wxBoxSizer* outerSizer = new wxBoxSizer(wxVERTICAL);

    wxFlexGridSizer* outerGrid = new wxFlexGridSizer(2, 1, 0, 0);
    outerGrid->AddGrowableCol(0);
    outerGrid->AddGrowableRow(0);
    outerGrid->AddGrowableRow(1);
    outerGrid->SetFlexibleDirection(wxBOTH);
    outerGrid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    wxFlexGridSizer* grid = new wxFlexGridSizer(2, 3, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    m_channelsLabel = new wxStaticText(this, wxID_ANY, _("Channels"), wxDefaultPosition,
                                       wxDefaultSize, wxALIGN_RIGHT, wxT("staticText"));
    m_channelsLabel->Wrap(-1);
    m_channelsLabel->SetMinSize(wxSize(70, -1));
    grid->Add(m_channelsLabel, 0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL | wxALL, 5);

    m_channelsSlider = new wxSlider(this, wxID_ANY, 50, 0, 100, wxDefaultPosition, wxDefaultSize,
                                    wxSL_HORIZONTAL, wxDefaultValidator, wxT("slider"));
    m_channelsSlider->SetMinSize(wxSize(100, -1));
    grid->Add(m_channelsSlider, 0, wxALIGN_BOTTOM, 0);

    m_channelsText = new wxStaticText(this, wxID_ANY, wxT("8 x 8"), wxDefaultPosition,
                                      wxDefaultSize, 0, wxT("staticText"));
    m_channelsText->Wrap(-1);
    m_channelsText->SetMinSize(wxSize(70, -1));
    grid->Add(m_channelsText, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    grid->Add(0, 40, 1, wxEXPAND, 0);

    m_buttonSizer = new wxStdDialogButtonSizer();
    m_okButton = new wxButton(this, wxID_OK, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, wxT("button"));
    m_buttonSizer->AddButton(m_okButton);
    m_buttonSizer->Realize();
    grid->Add(m_buttonSizer, 1, wxALIGN_BOTTOM | wxALIGN_CENTER_HORIZONTAL, 0);

    grid->Add(0, 0, 1, wxEXPAND, 0);

    outerGrid->Add(grid, 1, wxALIGN_CENTER, 0);
    outerSizer->Add(outerGrid, 1, wxEXPAND, 0);

    SetSizer(outerSizer);
    Layout();
    Centre(wxBOTH);

    route(true);
}

QelAdvancedDialogGen::~QelAdvancedDialogGen() {
    route(false);
}

void QelAdvancedDialogGen::route(bool connect) {
    for (const wxEventTypeTag<wxScrollEvent>* type : k_scrollEvents) {
        if (connect) {
            m_channelsSlider->Bind(*type, &QelAdvancedDialogGen::OnScroll, this);
        } else {
            m_channelsSlider->Unbind(*type, &QelAdvancedDialogGen::OnScroll, this);
        }
    }
    if (connect) {
        m_okButton->Bind(wxEVT_BUTTON, &QelAdvancedDialogGen::OnOK, this);
    } else {
        m_okButton->Unbind(wxEVT_BUTTON, &QelAdvancedDialogGen::OnOK, this);
    }
}
