#include "QelPanelGen.h"

#include "QelImageManager.h"

#include <wx/arrstr.h>
#include <wx/bmpbndl.h>
#include <wx/colour.h>
#include <wx/font.h>
#include <wx/settings.h>
#include <wx/sizer.h>

#include <initializer_list>

namespace {

// The grey behind the pages, the notebook and the picture buttons.
wxColour pageGrey() {
    return wxColour(224, 224, 224);
}

// The colour of every text drawn straight on that grey: the labels, the
// titles, the addresses, the version and the notebook's tab labels. The grey
// is fixed, so its text is fixed too: a theme's own text colour is made for
// the theme's own background, and a dark theme's light text would all but
// vanish on the grey. Following the theme for both instead would change the
// panel's look on every theme and leave the pictures, drawn for the grey, on
// a background they were not made for. The colour is the default theme's own
// text colour, so that the default look stays as it was. The choices and
// buttons draw their own background and keep the theme's colours for both.
wxColour pageText() {
    return wxColour(46, 52, 54);
}

// A picture of the layout, opened by its path relative to the current
// directory with the type taken from the file's content, together with its
// double-size picture for screens with a scale of 2 when there is one. A file
// that cannot be opened gives an empty picture; the toolkit's loader logs why.
wxBitmapBundle picture(const wxChar* path) {
    return qelLoadBitmapBundle(wxString(path), wxBITMAP_TYPE_ANY);
}

wxArrayString items(std::initializer_list<const wxChar*> texts) {
    wxArrayString list;
    for (const wxChar* text : texts) {
        list.Add(text);
    }
    return list;
}

// A flex grid as the layout uses it unless told otherwise: it grows in both
// directions and its non-flexible cells keep their minimum size.
wxFlexGridSizer* flexGrid(int rows, int cols, int vgap, int hgap) {
    wxFlexGridSizer* grid = new wxFlexGridSizer(rows, cols, vgap, hgap);
    grid->SetFlexibleDirection(wxBOTH);
    grid->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_SPECIFIED);
    return grid;
}

} // namespace

// Where a cell is to be both expanded and centred, it is only expanded: the
// toolkit rejects the combination (alignment and expansion in the same
// direction), and a cell that fills its space has nothing left to centre.
QelPanelGen::QelPanelGen(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                         long style)
    : wxPanel(parent, id, pos, size, style, wxT("panel")) {
    wxBoxSizer* mainSizer = new wxBoxSizer(wxVERTICAL);

    m_notebook =
        new wxNotebook(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, wxT("notebook"));
    m_notebook->SetBackgroundColour(pageGrey());

    // Settings page.
    m_settingsPage =
        new wxPanel(m_notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    m_settingsPage->SetBackgroundColour(pageGrey());

    wxBoxSizer* settingsSizer = new wxBoxSizer(wxVERTICAL);

    wxFlexGridSizer* pageGrid = flexGrid(2, 3, 0, 0);
    pageGrid->AddGrowableCol(1);
    pageGrid->AddGrowableRow(0);

    m_spacerPanel =
        new wxPanel(m_settingsPage, wxID_ANY, wxDefaultPosition, wxSize(48, 48), wxTAB_TRAVERSAL);
    m_spacerPanel->SetMinSize(wxSize(48, 48));
    m_spacerPanel->SetMaxSize(wxSize(48, 48));
    pageGrid->Add(m_spacerPanel, 1, wxEXPAND | wxALL, 5);

    wxFlexGridSizer* contentColumn = flexGrid(8, 1, 0, 0);
    contentColumn->AddGrowableCol(0);
    contentColumn->SetNonFlexibleGrowMode(wxFLEX_GROWMODE_ALL);

    m_logoBitmap =
        new wxStaticBitmap(m_settingsPage, wxID_ANY, picture(wxT("res/dpi90-word-ostrane.png")));
    contentColumn->Add(m_logoBitmap, 0, wxALIGN_CENTER | wxTOP, 10);

    m_titleText = new wxStaticText(m_settingsPage, wxID_ANY, wxT("Qelvane"));
    m_titleText->Wrap(-1);
    m_titleText->SetFont(wxFont(18, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD,
                                false, wxEmptyString));
    contentColumn->Add(m_titleText, 0, wxALIGN_CENTER | wxALL, 10);

    contentColumn->Add(0, 5, 1, wxEXPAND | wxALL, 5);

    // Audio row: power button, gap, audio settings.
    wxFlexGridSizer* audioRow = flexGrid(1, 3, 0, 0);
    audioRow->AddGrowableCol(1);

    m_powerButton =
        new wxBitmapButton(m_settingsPage, wxID_ANY, picture(wxT("res/dpi90-power-amber.png")),
                           wxDefaultPosition, wxSize(64, 64), wxBORDER_NONE);
    m_powerButton->SetBackgroundColour(pageGrey());
    audioRow->Add(m_powerButton, 0, 0, 0);

    audioRow->Add(20, 0, 1, wxEXPAND, 5);

    wxFlexGridSizer* audioGrid = flexGrid(3, 3, 5, 5);

    m_interfaceLabel = new wxStaticText(m_settingsPage, wxID_ANY, _("Audio Interface"));
    m_interfaceLabel->Wrap(-1);
    audioGrid->Add(m_interfaceLabel, 0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL, 5);

    m_interfaceChoice = new wxChoice(m_settingsPage, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                     items({wxT("WDM"), wxT("ASIO")}), 0);
    m_interfaceChoice->SetSelection(0);
    audioGrid->Add(m_interfaceChoice, 0, wxEXPAND, 5);

    audioGrid->Add(0, 20, 1, wxEXPAND, 5);

    m_formatLabel = new wxStaticText(m_settingsPage, wxID_ANY, _("Audio Format"));
    audioGrid->Add(m_formatLabel, 0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL, 5);

    m_sampleRateChoice = new wxChoice(m_settingsPage, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                      items({wxT("48000 Hz")}), 0);
    m_sampleRateChoice->SetSelection(0);
    audioGrid->Add(m_sampleRateChoice, 0, wxEXPAND, 5);

    m_encodingChoice = new wxChoice(m_settingsPage, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                    items({wxT("24 bit")}), 0);
    m_encodingChoice->SetSelection(0);
    audioGrid->Add(m_encodingChoice, 0, 0, 5);

    m_latencyLabel = new wxStaticText(m_settingsPage, wxID_ANY, _("Lirva Latency"));
    audioGrid->Add(m_latencyLabel, 0, wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL, 5);

    m_latencyChoice = new wxChoice(m_settingsPage, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                   items({wxT("Medium")}), 0);
    m_latencyChoice->SetSelection(0);
    audioGrid->Add(m_latencyChoice, 0, wxEXPAND, 5);

    audioRow->Add(audioGrid, 1, wxALIGN_CENTER_VERTICAL, 5);
    contentColumn->Add(audioRow, 1, wxALIGN_CENTER, 5);

    contentColumn->Add(0, 20, 1, 0, 5);

    // Network row: link picture, gap, interface and its addresses.
    wxFlexGridSizer* networkRow = flexGrid(1, 4, 0, 0);

    m_networkBitmap =
        new wxStaticBitmap(m_settingsPage, wxID_ANY, picture(wxT("res/dpi90-ethernet-nc.png")));
    networkRow->Add(m_networkBitmap, 0, wxALIGN_CENTER, 0);

    networkRow->Add(5, 0, 1, wxEXPAND, 0);

    wxFlexGridSizer* networkColumn = flexGrid(2, 1, 0, 0);

    m_networkChoice = new wxChoice(m_settingsPage, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                   items({wxT("eth0")}), 0);
    m_networkChoice->SetSelection(0);
    networkColumn->Add(m_networkChoice, 0, wxEXPAND, 0);

    wxFlexGridSizer* addressGrid = flexGrid(2, 2, 0, 0);
    const wxFont addressFont(8, wxFONTFAMILY_MODERN, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_NORMAL, false,
                             wxEmptyString);

    m_ipLabel = new wxStaticText(m_settingsPage, wxID_ANY, _("IP:"));
    m_ipLabel->SetFont(addressFont);
    addressGrid->Add(m_ipLabel, 0, wxALIGN_RIGHT, 0);

    m_ipText = new wxStaticText(m_settingsPage, wxID_ANY, wxT("0.0.0.0"));
    m_ipText->SetFont(addressFont);
    addressGrid->Add(m_ipText, 0, 0, 0);

    m_macLabel = new wxStaticText(m_settingsPage, wxID_ANY, _("MAC:"));
    m_macLabel->SetFont(addressFont);
    addressGrid->Add(m_macLabel, 0, wxALIGN_RIGHT, 0);

    m_macText = new wxStaticText(m_settingsPage, wxID_ANY, wxT("00:00:00:00:00:00"));
    m_macText->SetFont(addressFont);
    addressGrid->Add(m_macText, 0, 0, 0);

    networkColumn->Add(addressGrid, 1, wxLEFT | wxRIGHT, 5);
    networkRow->Add(networkColumn, 1, wxALIGN_CENTER_VERTICAL, 5);
    contentColumn->Add(networkRow, 1, wxALIGN_CENTER, 5);

    contentColumn->Add(0, 0, 1, wxEXPAND | wxALL, 5);

    // Button row: status line, then the two buttons.
    wxFlexGridSizer* buttonRow = flexGrid(1, 3, 0, 0);
    buttonRow->AddGrowableCol(0);

    m_statusText = new wxStaticText(m_settingsPage, wxID_ANY, wxEmptyString);
    m_statusText->Wrap(-1);
    buttonRow->Add(m_statusText, 1, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    m_platformButton = new wxButton(m_settingsPage, wxID_ANY, wxT("Platform"));
    buttonRow->Add(m_platformButton, 0, wxALL, 5);

    m_advancedButton = new wxButton(m_settingsPage, wxID_ANY, _("Advanced"));
    buttonRow->Add(m_advancedButton, 0, wxALL, 5);

    contentColumn->Add(buttonRow, 1, wxEXPAND | wxALIGN_RIGHT | wxLEFT | wxRIGHT, 15);

    pageGrid->Add(contentColumn, 1, wxEXPAND, 5);

    // Help grid: the help button sits in the second row, first column.
    wxFlexGridSizer* helpGrid = flexGrid(2, 2, 0, 0);
    helpGrid->Add(12, 12, 1, 0, 0);
    helpGrid->Add(12, 12, 1, 0, 0);

    m_helpButton =
        new wxBitmapButton(m_settingsPage, wxID_ANY, picture(wxT("res/help_circle_blue_v2.png")),
                           wxDefaultPosition, wxSize(24, 24), wxBORDER_NONE);
    m_helpButton->SetBackgroundColour(pageGrey());
    helpGrid->Add(m_helpButton, 0, 0, 0);

    pageGrid->Add(helpGrid, 1, 0, 5);

    settingsSizer->Add(pageGrid, 1, wxEXPAND, 5);

    m_settingsPage->SetSizer(settingsSizer);
    m_settingsPage->Layout();
    settingsSizer->Fit(m_settingsPage);
    m_notebook->AddPage(m_settingsPage, _("Settings"), true);

    // About page.
    m_aboutPage =
        new wxPanel(m_notebook, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL);
    m_aboutPage->SetBackgroundColour(pageGrey());
    m_aboutPage->SetMinSize(wxSize(450, -1));

    wxBoxSizer* aboutSizer = new wxBoxSizer(wxVERTICAL);

    wxFlexGridSizer* aboutColumn = flexGrid(3, 1, 0, 0);
    aboutColumn->AddGrowableCol(0);

    m_aboutLogoBitmap =
        new wxStaticBitmap(m_aboutPage, wxID_ANY, picture(wxT("res/dpi90-word-ostrane.png")));
    aboutColumn->Add(m_aboutLogoBitmap, 0, wxALIGN_CENTER | wxTOP, 10);

    m_aboutTitleText = new wxStaticText(m_aboutPage, wxID_ANY, wxT("Qelvane"));
    m_aboutTitleText->Wrap(-1);
    m_aboutTitleText->SetFont(wxFont(18, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL,
                                     wxFONTWEIGHT_BOLD, false, wxEmptyString));
    aboutColumn->Add(m_aboutTitleText, 0, wxALIGN_CENTER | wxALL, 10);

    wxFlexGridSizer* versionRow = flexGrid(1, 2, 0, 0);
    const wxFont versionFont(wxNORMAL_FONT->GetPointSize(), wxFONTFAMILY_DEFAULT,
                             wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD, false, wxEmptyString);

    m_versionLabel = new wxStaticText(m_aboutPage, wxID_ANY, _("Version: "));
    m_versionLabel->Wrap(-1);
    m_versionLabel->SetFont(versionFont);
    versionRow->Add(m_versionLabel, 0, wxALIGN_RIGHT, 0);

    m_versionText = new wxStaticText(m_aboutPage, wxID_ANY, wxT("1.0.0"));
    m_versionText->Wrap(-1);
    m_versionText->SetFont(versionFont);
    versionRow->Add(m_versionText, 0, 0, 0);

    aboutColumn->Add(versionRow, 1, wxALIGN_CENTER | wxALL, 5);

    aboutSizer->Add(aboutColumn, 1, wxEXPAND, 5);

    m_aboutPage->SetSizer(aboutSizer);
    m_aboutPage->Layout();
    aboutSizer->Fit(m_aboutPage);
    m_notebook->AddPage(m_aboutPage, _("About"), false);

    mainSizer->Add(m_notebook, 1, wxEXPAND | wxALL, 5);

    SetSizer(mainSizer);
    Layout();

    // Every text on the grey in the colour made for it; the notebook's after
    // its pages are added, so that the colour reaches their tab labels.
    for (wxStaticText* text :
         {m_titleText, m_interfaceLabel, m_formatLabel, m_latencyLabel, m_ipLabel, m_ipText,
          m_macLabel, m_macText, m_statusText, m_aboutTitleText, m_versionLabel, m_versionText}) {
        text->SetForegroundColour(pageText());
    }
    m_notebook->SetForegroundColour(pageText());

    route(true);
}

QelPanelGen::~QelPanelGen() {
    route(false);
}

void QelPanelGen::route(bool connect) {
    link(connect, m_powerButton, wxEVT_BUTTON, &QelPanelGen::OnPowerButton);
    link(connect, m_powerButton, wxEVT_LEFT_DOWN, &QelPanelGen::OnPowerLeftDown);
    link(connect, m_powerButton, wxEVT_LEFT_UP, &QelPanelGen::OnPowerLeftUp);
    link(connect, m_interfaceChoice, wxEVT_CHOICE, &QelPanelGen::OnInterfaceChoice);
    link(connect, m_sampleRateChoice, wxEVT_CHOICE, &QelPanelGen::OnInterfaceChoice);
    link(connect, m_encodingChoice, wxEVT_CHOICE, &QelPanelGen::OnEncodingChoice);
    link(connect, m_latencyChoice, wxEVT_CHOICE, &QelPanelGen::OnLatencyChoice);
    link(connect, m_networkChoice, wxEVT_CHOICE, &QelPanelGen::OnNetworkChoice);
    link(connect, m_platformButton, wxEVT_BUTTON, &QelPanelGen::OnPlatformButton);
    link(connect, m_advancedButton, wxEVT_BUTTON, &QelPanelGen::OnAdvancedButton);
    link(connect, m_helpButton, wxEVT_BUTTON, &QelPanelGen::OnHelpButton);
}
