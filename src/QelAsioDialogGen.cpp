#include "QelAsioDialogGen.h"

namespace {

wxStaticText* text(wxWindow* parent, const wxChar* label) {
    wxStaticText* made = new wxStaticText(parent, wxID_ANY, label, wxDefaultPosition, wxDefaultSize,
                                          0, wxT("staticText"));
    made->Wrap(-1);
    return made;
}

// One row of the grid: the label, the choice in a box of its own, the unit.
wxChoice* addRow(wxFlexGridSizer* grid, wxWindow* parent, wxStaticText* label, wxStaticText** unit,
                 const wxChar* unitText) {
    grid->Add(label, 0, wxALL, 5);

    wxBoxSizer* box = new wxBoxSizer(wxVERTICAL);
    wxChoice* choice = new wxChoice(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    wxArrayString(), 0, wxDefaultValidator, wxT("choice"));
    choice->SetSelection(0); // no item yet: the request selects nothing
    box->Add(choice, 0, wxALL, 5);
    grid->Add(box, 1, wxEXPAND | wxALIGN_RIGHT, 0);

    *unit = text(parent, unitText);
    grid->Add(*unit, 0, wxALL, 5);
    return choice;
}

} // namespace

// The outer grid has two rows, of which both grow; the
// toolkit rejects a growable row that the grid does not have.
QelAsioDialogGen::QelAsioDialogGen(wxWindow* parent, wxWindowID id, const wxString& title,
                                   const wxPoint& pos, const wxSize& size, long style)
    : wxDialog(parent, id, title, pos, size, style, wxT("dialog")) {
    wxBoxSizer* outerSizer = new wxBoxSizer(wxVERTICAL);

    wxFlexGridSizer* outerGrid = new wxFlexGridSizer(2, 1, 0, 0);
    outerGrid->AddGrowableCol(0);
    outerGrid->AddGrowableRow(0);
    outerGrid->AddGrowableRow(1);
    outerGrid->SetFlexibleDirection(wxBOTH);
    outerGrid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    wxFlexGridSizer* grid = new wxFlexGridSizer(3, 3, 0, 0);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);

    m_asioBufferSizeLabel = text(this, _("Buffer Size:"));
    m_asioBufferSizeChoice =
        addRow(grid, this, m_asioBufferSizeLabel, &m_asioBufferSizeUnit, _("samples"));
    m_asioEncodingLabel = text(this, _("Encoding:"));
    m_asioEncodingChoice =
        addRow(grid, this, m_asioEncodingLabel, &m_asioEncodingUnit, _("bits / sample"));
    m_asioLatencyLabel = text(this, _("Asio Latency:"));
    m_asioLatencyChoice = addRow(grid, this, m_asioLatencyLabel, &m_asioLatencyUnit, _("ms"));

    outerGrid->Add(grid, 1, wxALIGN_CENTER, 0);

    m_buttonSizer = new wxStdDialogButtonSizer();
    m_okButton = new wxButton(this, wxID_OK, wxEmptyString, wxDefaultPosition, wxDefaultSize, 0,
                              wxDefaultValidator, wxT("button"));
    m_buttonSizer->AddButton(m_okButton);
    m_buttonSizer->Realize();
    outerGrid->Add(m_buttonSizer, 1, wxALIGN_CENTER, 0);

    outerSizer->Add(outerGrid, 1, wxEXPAND, 0);

    SetSizer(outerSizer);
    Layout();
    Centre(wxBOTH);

    route(true);
}

QelAsioDialogGen::~QelAsioDialogGen() {
    route(false);
}

void QelAsioDialogGen::route(bool connect) {
    struct Route {
        wxEvtHandler* source;
        const wxEventTypeTag<wxCommandEvent>* type;
        void (QelAsioDialogGen::*handler)(wxCommandEvent&);
    };
    const Route routes[] = {
        {m_asioBufferSizeChoice, &wxEVT_CHOICE, &QelAsioDialogGen::OnBufferSize},
        {m_asioEncodingChoice, &wxEVT_CHOICE, &QelAsioDialogGen::OnEncoding},
        {m_asioLatencyChoice, &wxEVT_CHOICE, &QelAsioDialogGen::OnLatency},
        {m_okButton, &wxEVT_BUTTON, &QelAsioDialogGen::OnOK},
    };
    for (const Route& r : routes) {
        if (connect) {
            r.source->Bind(*r.type, r.handler, this);
        } else {
            r.source->Unbind(*r.type, r.handler, this);
        }
    }
}
