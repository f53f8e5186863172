// The generated panel base: its windows, texts, pictures, fonts, colours and
// sizers, where each control's events go, that the default handlers let them
// pass on, and that the destructor removes every route.
#include "QelPanelGen.h"
#include "gui_test_support.h"
#include "wx_test_main.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using qelguitest::CurrentDirectory;
using qelguitest::WxLogCapture;

namespace {

// Handler calls of the recording panels, with the window each event came
// from; kept outside the panels so that late calls are still seen.
struct Call {
    std::string handler;
    wxObject* source;
};
std::vector<Call> g_calls;

std::vector<std::string> handlersCalled() {
    std::vector<std::string> names;
    for (const Call& call : g_calls) {
        names.push_back(call.handler);
    }
    return names;
}

// Opens the members to the tests; the handlers are the defaults.
class PlainPanel : public QelPanelGen {
public:
    using QelPanelGen::QelPanelGen;

    using QelPanelGen::m_aboutLogoBitmap;
    using QelPanelGen::m_aboutPage;
    using QelPanelGen::m_aboutTitleText;
    using QelPanelGen::m_advancedButton;
    using QelPanelGen::m_encodingChoice;
    using QelPanelGen::m_formatLabel;
    using QelPanelGen::m_helpButton;
    using QelPanelGen::m_interfaceChoice;
    using QelPanelGen::m_interfaceLabel;
    using QelPanelGen::m_ipLabel;
    using QelPanelGen::m_ipText;
    using QelPanelGen::m_latencyChoice;
    using QelPanelGen::m_latencyLabel;
    using QelPanelGen::m_logoBitmap;
    using QelPanelGen::m_macLabel;
    using QelPanelGen::m_macText;
    using QelPanelGen::m_networkBitmap;
    using QelPanelGen::m_networkChoice;
    using QelPanelGen::m_notebook;
    using QelPanelGen::m_platformButton;
    using QelPanelGen::m_powerButton;
    using QelPanelGen::m_sampleRateChoice;
    using QelPanelGen::m_settingsPage;
    using QelPanelGen::m_spacerPanel;
    using QelPanelGen::m_statusText;
    using QelPanelGen::m_titleText;
    using QelPanelGen::m_versionLabel;
    using QelPanelGen::m_versionText;

    using QelPanelGen::OnAdvancedButton;
    using QelPanelGen::OnEncodingChoice;
    using QelPanelGen::OnHelpButton;
    using QelPanelGen::OnInterfaceChoice;
    using QelPanelGen::OnLatencyChoice;
    using QelPanelGen::OnNetworkChoice;
    using QelPanelGen::OnPlatformButton;
    using QelPanelGen::OnPowerButton;
    using QelPanelGen::OnPowerLeftDown;
    using QelPanelGen::OnPowerLeftUp;
};

// Records every handler call; passes the events on as the defaults do, or
// keeps them when told to.
class RecordingPanel : public PlainPanel {
public:
    using PlainPanel::PlainPanel;

    bool passOn = true;

protected:
    void OnPowerButton(wxCommandEvent& event) override { record("OnPowerButton", event); }
    void OnPowerLeftDown(wxMouseEvent& event) override { record("OnPowerLeftDown", event); }
    void OnPowerLeftUp(wxMouseEvent& event) override { record("OnPowerLeftUp", event); }
    void OnInterfaceChoice(wxCommandEvent& event) override { record("OnInterfaceChoice", event); }
    void OnEncodingChoice(wxCommandEvent& event) override { record("OnEncodingChoice", event); }
    void OnLatencyChoice(wxCommandEvent& event) override { record("OnLatencyChoice", event); }
    void OnNetworkChoice(wxCommandEvent& event) override { record("OnNetworkChoice", event); }
    void OnPlatformButton(wxCommandEvent& event) override { record("OnPlatformButton", event); }
    void OnAdvancedButton(wxCommandEvent& event) override { record("OnAdvancedButton", event); }
    void OnHelpButton(wxCommandEvent& event) override { record("OnHelpButton", event); }

private:
    void record(const char* handler, wxEvent& event) {
        g_calls.push_back(Call{handler, event.GetEventObject()});
        event.Skip(passOn);
    }
};

// Everything a window built from the layout shows: the pictures of res/ are
// found relative to the program's directory.
class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        qelguitest::registerImageHandlers();
        m_frame =
            new wxFrame(nullptr, wxID_ANY, wxT("panel test"), wxDefaultPosition, wxSize(595, 400));
        CurrentDirectory inBin(qelguitest::binDir());
        m_panel = new RecordingPanel(m_frame, wxID_ANY, wxDefaultPosition, wxSize(595, -1),
                                     wxTAB_TRAVERSAL);
    }

    void TearDown() override { delete m_frame; }

    static std::vector<wxWindow*> children(wxWindow* window) {
        const wxWindowList& list = window->GetChildren();
        return std::vector<wxWindow*>(list.begin(), list.end());
    }

    static std::vector<wxString> itemsOf(wxChoice* choice) {
        std::vector<wxString> texts;
        for (unsigned i = 0; i < choice->GetCount(); ++i) {
            texts.push_back(choice->GetString(i));
        }
        return texts;
    }

    wxFrame* m_frame = nullptr;
    RecordingPanel* m_panel = nullptr;
};

const wxColour grey224(224, 224, 224);

// ---- windows ---------------------------------------------------------------

TEST_F(PanelTest, WindowNamesAndParents) {
    EXPECT_EQ(wxT("panel"), m_panel->GetName());
    EXPECT_EQ(wxT("notebook"), m_panel->m_notebook->GetName());
    EXPECT_EQ(m_frame, m_panel->GetParent());
    EXPECT_TRUE(m_panel->GetWindowStyleFlag() & wxTAB_TRAVERSAL);
    EXPECT_EQ(m_panel->m_notebook, m_panel->m_settingsPage->GetParent());
    EXPECT_EQ(m_panel->m_notebook, m_panel->m_aboutPage->GetParent());
    EXPECT_TRUE(m_panel->m_settingsPage->GetWindowStyleFlag() & wxTAB_TRAVERSAL);
    EXPECT_TRUE(m_panel->m_aboutPage->GetWindowStyleFlag() & wxTAB_TRAVERSAL);
    EXPECT_TRUE(m_panel->m_spacerPanel->GetWindowStyleFlag() & wxTAB_TRAVERSAL);
}

TEST_F(PanelTest, MemberWindowsExistInCreationOrder) {
    EXPECT_EQ(std::vector<wxWindow*>{m_panel->m_notebook}, children(m_panel));
    EXPECT_EQ((std::vector<wxWindow*>{m_panel->m_settingsPage, m_panel->m_aboutPage}),
              children(m_panel->m_notebook));
    const std::vector<wxWindow*> settings{
        m_panel->m_spacerPanel,    m_panel->m_logoBitmap,       m_panel->m_titleText,
        m_panel->m_powerButton,    m_panel->m_interfaceLabel,   m_panel->m_interfaceChoice,
        m_panel->m_formatLabel,    m_panel->m_sampleRateChoice, m_panel->m_encodingChoice,
        m_panel->m_latencyLabel,   m_panel->m_latencyChoice,    m_panel->m_networkBitmap,
        m_panel->m_networkChoice,  m_panel->m_ipLabel,          m_panel->m_ipText,
        m_panel->m_macLabel,       m_panel->m_macText,          m_panel->m_statusText,
        m_panel->m_platformButton, m_panel->m_advancedButton,   m_panel->m_helpButton};
    EXPECT_EQ(settings, children(m_panel->m_settingsPage));
    const std::vector<wxWindow*> about{m_panel->m_aboutLogoBitmap, m_panel->m_aboutTitleText,
                                       m_panel->m_versionLabel, m_panel->m_versionText};
    EXPECT_EQ(about, children(m_panel->m_aboutPage));
    EXPECT_TRUE(children(m_panel->m_spacerPanel).empty());
}

TEST_F(PanelTest, NotebookPages) {
    wxNotebook* notebook = m_panel->m_notebook;
    ASSERT_EQ(2u, notebook->GetPageCount());
    EXPECT_EQ(m_panel->m_settingsPage, notebook->GetPage(0));
    EXPECT_EQ(wxT("Settings"), notebook->GetPageText(0));
    EXPECT_EQ(m_panel->m_aboutPage, notebook->GetPage(1));
    EXPECT_EQ(wxT("About"), notebook->GetPageText(1));
    EXPECT_EQ(0, notebook->GetSelection());
}

TEST_F(PanelTest, PlaceholderTexts) {
    EXPECT_EQ(wxT("Qelvane"), m_panel->m_titleText->GetLabel());
    EXPECT_EQ(wxT("Audio Interface"), m_panel->m_interfaceLabel->GetLabel());
    EXPECT_EQ(wxT("Audio Format"), m_panel->m_formatLabel->GetLabel());
    EXPECT_EQ(wxT("Lirva Latency"), m_panel->m_latencyLabel->GetLabel());
    EXPECT_EQ(wxT("IP:"), m_panel->m_ipLabel->GetLabel());
    EXPECT_EQ(wxT("0.0.0.0"), m_panel->m_ipText->GetLabel());
    EXPECT_EQ(wxT("MAC:"), m_panel->m_macLabel->GetLabel());
    EXPECT_EQ(wxT("00:00:00:00:00:00"), m_panel->m_macText->GetLabel());
    EXPECT_EQ(wxT(""), m_panel->m_statusText->GetLabel());
    EXPECT_EQ(wxT("Platform"), m_panel->m_platformButton->GetLabel());
    EXPECT_EQ(wxT("Advanced"), m_panel->m_advancedButton->GetLabel());
    EXPECT_EQ(wxT("Qelvane"), m_panel->m_aboutTitleText->GetLabel());
    EXPECT_EQ(wxT("Version: "), m_panel->m_versionLabel->GetLabel());
    EXPECT_EQ(wxT("1.0.0"), m_panel->m_versionText->GetLabel());
}

TEST_F(PanelTest, PlaceholderItemsAndSelections) {
    EXPECT_EQ((std::vector<wxString>{wxT("WDM"), wxT("ASIO")}),
              itemsOf(m_panel->m_interfaceChoice));
    EXPECT_EQ(0, m_panel->m_interfaceChoice->GetSelection());
    EXPECT_EQ(std::vector<wxString>{wxT("48000 Hz")}, itemsOf(m_panel->m_sampleRateChoice));
    EXPECT_EQ(0, m_panel->m_sampleRateChoice->GetSelection());
    EXPECT_EQ(std::vector<wxString>{wxT("24 bit")}, itemsOf(m_panel->m_encodingChoice));
    EXPECT_EQ(0, m_panel->m_encodingChoice->GetSelection());
    EXPECT_EQ(std::vector<wxString>{wxT("Medium")}, itemsOf(m_panel->m_latencyChoice));
    EXPECT_EQ(0, m_panel->m_latencyChoice->GetSelection());
    EXPECT_EQ(std::vector<wxString>{wxT("eth0")}, itemsOf(m_panel->m_networkChoice));
    EXPECT_EQ(0, m_panel->m_networkChoice->GetSelection());
}

TEST_F(PanelTest, Sizes) {
    EXPECT_EQ(wxSize(64, 64), m_panel->m_powerButton->GetSize());
    EXPECT_EQ(wxSize(24, 24), m_panel->m_helpButton->GetSize());
    // The spacer panel keeps its width; its cell stretches it down the page.
    EXPECT_EQ(wxSize(48, 48), m_panel->m_spacerPanel->GetMinSize());
    EXPECT_EQ(wxSize(48, 48), m_panel->m_spacerPanel->GetMaxSize());
    EXPECT_EQ(48, m_panel->m_spacerPanel->GetSize().GetWidth());
    EXPECT_EQ(450, m_panel->m_aboutPage->GetMinSize().GetWidth());
    EXPECT_EQ(wxDefaultCoord, m_panel->m_aboutPage->GetMinSize().GetHeight());
    EXPECT_EQ(595, m_panel->GetSize().GetWidth());
}

TEST_F(PanelTest, ButtonsWithPicturesHaveNoBorder) {
    EXPECT_EQ(wxBORDER_NONE, m_panel->m_powerButton->GetBorder());
    EXPECT_EQ(wxBORDER_NONE, m_panel->m_helpButton->GetBorder());
}

TEST_F(PanelTest, Fonts) {
    for (wxWindow* title : {static_cast<wxWindow*>(m_panel->m_titleText),
                            static_cast<wxWindow*>(m_panel->m_aboutTitleText)}) {
        const wxFont font = title->GetFont();
        EXPECT_EQ(18, font.GetPointSize());
        EXPECT_EQ(wxFONTWEIGHT_BOLD, font.GetWeight());
        EXPECT_EQ(wxFONTSTYLE_NORMAL, font.GetStyle());
        EXPECT_FALSE(font.GetUnderlined());
    }
    for (wxWindow* address :
         {static_cast<wxWindow*>(m_panel->m_ipLabel), static_cast<wxWindow*>(m_panel->m_ipText),
          static_cast<wxWindow*>(m_panel->m_macLabel),
          static_cast<wxWindow*>(m_panel->m_macText)}) {
        const wxFont font = address->GetFont();
        EXPECT_EQ(8, font.GetPointSize());
        EXPECT_TRUE(font.IsFixedWidth());
        EXPECT_EQ(wxFONTWEIGHT_NORMAL, font.GetWeight());
        EXPECT_EQ(wxFONTSTYLE_NORMAL, font.GetStyle());
    }
    const int normalSize = wxNORMAL_FONT->GetPointSize();
    for (wxWindow* version : {static_cast<wxWindow*>(m_panel->m_versionLabel),
                              static_cast<wxWindow*>(m_panel->m_versionText)}) {
        const wxFont font = version->GetFont();
        EXPECT_EQ(normalSize, font.GetPointSize());
        EXPECT_EQ(wxFONTWEIGHT_BOLD, font.GetWeight());
        EXPECT_EQ(wxFONTSTYLE_NORMAL, font.GetStyle());
    }
    // The labels of the settings keep the toolkit's font.
    EXPECT_FALSE(m_panel->m_interfaceLabel->GetFont().IsFixedWidth());
    EXPECT_EQ(wxFONTWEIGHT_NORMAL, m_panel->m_interfaceLabel->GetFont().GetWeight());
}

TEST_F(PanelTest, GreyBackgrounds) {
    EXPECT_EQ(grey224, m_panel->m_notebook->GetBackgroundColour());
    EXPECT_EQ(grey224, m_panel->m_settingsPage->GetBackgroundColour());
    EXPECT_EQ(grey224, m_panel->m_aboutPage->GetBackgroundColour());
    EXPECT_EQ(grey224, m_panel->m_powerButton->GetBackgroundColour());
    EXPECT_EQ(grey224, m_panel->m_helpButton->GetBackgroundColour());
}

// ---- pictures ----------------------------------------------------------------

wxImage pictureFile(const char* name) {
    return wxImage(qelguitest::binDir() + wxT("/res/") + wxString::FromUTF8(name) + wxT(".png"),
                   wxBITMAP_TYPE_PNG);
}

TEST_F(PanelTest, PicturesComeFromTheirFiles) {
    using qelguitest::sameOpaquePixels;
    EXPECT_TRUE(sameOpaquePixels(pictureFile("dpi90-word-ostrane"),
                                 m_panel->m_logoBitmap->GetBitmap().ConvertToImage()));
    EXPECT_TRUE(sameOpaquePixels(pictureFile("dpi90-word-ostrane"),
                                 m_panel->m_aboutLogoBitmap->GetBitmap().ConvertToImage()));
    EXPECT_TRUE(sameOpaquePixels(pictureFile("dpi90-power-amber"),
                                 m_panel->m_powerButton->GetBitmapLabel().ConvertToImage()));
    EXPECT_TRUE(sameOpaquePixels(pictureFile("dpi90-ethernet-nc"),
                                 m_panel->m_networkBitmap->GetBitmap().ConvertToImage()));
    EXPECT_TRUE(sameOpaquePixels(pictureFile("help_circle_blue_v2"),
                                 m_panel->m_helpButton->GetBitmapLabel().ConvertToImage()));
    // And not from some other file of the same size.
    EXPECT_FALSE(sameOpaquePixels(pictureFile("dpi90-power-grey"),
                                  m_panel->m_powerButton->GetBitmapLabel().ConvertToImage()));
}

TEST(PanelPictures, MissingFilesLeaveEmptyPicturesAndOnlyTheLoaderSpeaks) {
    qelguitest::registerImageHandlers();
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, wxT("panel test"));
    PlainPanel* panel = nullptr;
    WxLogCapture log;
    {
        // A directory without res/.
        CurrentDirectory elsewhere(qelguitest::binDir() + wxT("/.."));
        panel = new PlainPanel(frame);
    }
    EXPECT_FALSE(panel->m_logoBitmap->GetBitmap().IsOk());
    EXPECT_FALSE(panel->m_aboutLogoBitmap->GetBitmap().IsOk());
    EXPECT_FALSE(panel->m_networkBitmap->GetBitmap().IsOk());
    EXPECT_FALSE(panel->m_powerButton->GetBitmapLabel().IsOk());
    EXPECT_FALSE(panel->m_helpButton->GetBitmapLabel().IsOk());
    EXPECT_EQ(wxSize(64, 64), panel->m_powerButton->GetSize());
    EXPECT_EQ(wxSize(24, 24), panel->m_helpButton->GetSize());
    for (const char* name : {"res/dpi90-word-ostrane.png", "res/dpi90-power-amber.png",
                             "res/dpi90-ethernet-nc.png", "res/help_circle_blue_v2.png"}) {
        EXPECT_TRUE(log.mentions(wxString::FromUTF8(name))) << name << "\n" << log.all();
    }
    for (const wxString& message : log.messages()) {
        EXPECT_TRUE(message.Contains(wxT("res/"))) << "not the loader's: " << message;
    }
    delete frame;
}

// ---- sizers ------------------------------------------------------------------

// How one window or sizer sits in the sizer that holds it.
struct Placement {
    const char* what;
    wxSizerItem* item;
    int proportion;
    int flags;
    int border;
};

// A flex grid: rows x columns, gaps, growable columns and rows, and how its
// non-flexible cells grow.
struct Grid {
    const char* what;
    wxSizer* sizer;
    int rows, cols, vgap, hgap;
    std::vector<size_t> growableCols, growableRows;
    wxFlexSizerGrowMode growMode;
};

wxSizerItem* itemOf(wxWindow* window) {
    wxSizer* sizer = window->GetContainingSizer();
    return sizer != nullptr ? sizer->GetItem(window) : nullptr;
}

wxSizerItem* itemOf(wxSizer* parent, wxSizer* child) {
    return parent != nullptr && child != nullptr ? parent->GetItem(child) : nullptr;
}

wxSizerItem* itemAt(wxSizer* sizer, size_t index) {
    return sizer != nullptr && index < sizer->GetItemCount() ? sizer->GetItem(index) : nullptr;
}

TEST_F(PanelTest, SizersAndPlacements) {
    PlainPanel* p = m_panel;
    wxSizer* main = p->GetSizer();
    wxSizer* settingsPage = p->m_settingsPage->GetSizer();
    wxSizer* pageGrid = p->m_spacerPanel->GetContainingSizer();
    wxSizer* column = p->m_logoBitmap->GetContainingSizer();
    wxSizer* audioRow = p->m_powerButton->GetContainingSizer();
    wxSizer* audioGrid = p->m_interfaceChoice->GetContainingSizer();
    wxSizer* networkRow = p->m_networkBitmap->GetContainingSizer();
    wxSizer* networkColumn = p->m_networkChoice->GetContainingSizer();
    wxSizer* addresses = p->m_ipText->GetContainingSizer();
    wxSizer* buttonRow = p->m_statusText->GetContainingSizer();
    wxSizer* helpGrid = p->m_helpButton->GetContainingSizer();
    wxSizer* aboutPage = p->m_aboutPage->GetSizer();
    wxSizer* aboutColumn = p->m_aboutLogoBitmap->GetContainingSizer();
    wxSizer* versionRow = p->m_versionText->GetContainingSizer();

    for (wxSizer* box : {main, settingsPage, aboutPage}) {
        wxBoxSizer* vertical = dynamic_cast<wxBoxSizer*>(box);
        ASSERT_NE(nullptr, vertical);
        EXPECT_EQ(wxVERTICAL, vertical->GetOrientation());
        EXPECT_EQ(1u, vertical->GetItemCount());
    }
    EXPECT_EQ(p->m_notebook, itemAt(main, 0)->GetWindow());
    EXPECT_EQ(pageGrid, itemAt(settingsPage, 0)->GetSizer());
    EXPECT_EQ(aboutColumn, itemAt(aboutPage, 0)->GetSizer());

    const Grid grids[] = {
        {"page", pageGrid, 2, 3, 0, 0, {1}, {0}, wxFLEX_GROWMODE_SPECIFIED},
        {"content", column, 8, 1, 0, 0, {0}, {}, wxFLEX_GROWMODE_ALL},
        {"audio row", audioRow, 1, 3, 0, 0, {1}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"audio settings", audioGrid, 3, 3, 5, 5, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"network row", networkRow, 1, 4, 0, 0, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"network column", networkColumn, 2, 1, 0, 0, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"addresses", addresses, 2, 2, 0, 0, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"button row", buttonRow, 1, 3, 0, 0, {0}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"help", helpGrid, 2, 2, 0, 0, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"about", aboutColumn, 3, 1, 0, 0, {0}, {}, wxFLEX_GROWMODE_SPECIFIED},
        {"version", versionRow, 1, 2, 0, 0, {}, {}, wxFLEX_GROWMODE_SPECIFIED},
    };
    for (const Grid& expected : grids) {
        SCOPED_TRACE(expected.what);
        wxFlexGridSizer* grid = dynamic_cast<wxFlexGridSizer*>(expected.sizer);
        ASSERT_NE(nullptr, grid);
        EXPECT_EQ(expected.rows, grid->GetRows());
        EXPECT_EQ(expected.cols, grid->GetCols());
        EXPECT_EQ(expected.vgap, grid->GetVGap());
        EXPECT_EQ(expected.hgap, grid->GetHGap());
        EXPECT_EQ(wxBOTH, grid->GetFlexibleDirection());
        EXPECT_EQ(expected.growMode, grid->GetNonFlexibleGrowMode());
        for (int col = 0; col < expected.cols; ++col) {
            const bool growable = std::count(expected.growableCols.begin(),
                                             expected.growableCols.end(), size_t(col)) > 0;
            EXPECT_EQ(growable, grid->IsColGrowable(col)) << "column " << col;
        }
        for (int row = 0; row < expected.rows; ++row) {
            const bool growable = std::count(expected.growableRows.begin(),
                                             expected.growableRows.end(), size_t(row)) > 0;
            EXPECT_EQ(growable, grid->IsRowGrowable(row)) << "row " << row;
        }
    }

    const int label = wxALIGN_RIGHT | wxALIGN_CENTER_VERTICAL;
    const Placement placements[] = {
        {"notebook", itemOf(p->m_notebook), 1, wxEXPAND | wxALL, 5},
        {"page grid", itemOf(settingsPage, pageGrid), 1, wxEXPAND, 5},
        {"spacer panel", itemOf(p->m_spacerPanel), 1, wxEXPAND | wxALL, 5},
        {"content", itemOf(pageGrid, column), 1, wxEXPAND, 5},
        {"help grid", itemOf(pageGrid, helpGrid), 1, 0, 5},
        {"logo", itemOf(p->m_logoBitmap), 0, wxALIGN_CENTER | wxTOP, 10},
        {"title", itemOf(p->m_titleText), 0, wxALIGN_CENTER | wxALL, 10},
        {"audio row", itemOf(column, audioRow), 1, wxALIGN_CENTER, 5},
        {"network row", itemOf(column, networkRow), 1, wxALIGN_CENTER, 5},
        {"button row", itemOf(column, buttonRow), 1, wxEXPAND | wxALIGN_RIGHT | wxLEFT | wxRIGHT,
         15},
        {"power", itemOf(p->m_powerButton), 0, 0, 0},
        {"audio settings", itemOf(audioRow, audioGrid), 1, wxALIGN_CENTER_VERTICAL, 5},
        {"interface label", itemOf(p->m_interfaceLabel), 0, label, 5},
        {"interface", itemOf(p->m_interfaceChoice), 0, wxEXPAND, 5},
        {"format label", itemOf(p->m_formatLabel), 0, label, 5},
        {"sample rate", itemOf(p->m_sampleRateChoice), 0, wxEXPAND, 5},
        {"encoding", itemOf(p->m_encodingChoice), 0, 0, 5},
        {"latency label", itemOf(p->m_latencyLabel), 0, label, 5},
        {"latency", itemOf(p->m_latencyChoice), 0, wxEXPAND, 5},
        {"network picture", itemOf(p->m_networkBitmap), 0, wxALIGN_CENTER, 0},
        {"network column", itemOf(networkRow, networkColumn), 1, wxALIGN_CENTER_VERTICAL, 5},
        {"network", itemOf(p->m_networkChoice), 0, wxEXPAND, 0},
        {"addresses", itemOf(networkColumn, addresses), 1, wxLEFT | wxRIGHT, 5},
        {"ip label", itemOf(p->m_ipLabel), 0, wxALIGN_RIGHT, 0},
        {"ip", itemOf(p->m_ipText), 0, 0, 0},
        {"mac label", itemOf(p->m_macLabel), 0, wxALIGN_RIGHT, 0},
        {"mac", itemOf(p->m_macText), 0, 0, 0},
        {"status", itemOf(p->m_statusText), 1, wxALIGN_CENTER_VERTICAL | wxALL, 5},
        {"platform", itemOf(p->m_platformButton), 0, wxALL, 5},
        {"advanced", itemOf(p->m_advancedButton), 0, wxALL, 5},
        {"help", itemOf(p->m_helpButton), 0, 0, 0},
        {"about column", itemOf(aboutPage, aboutColumn), 1, wxEXPAND, 5},
        {"about logo", itemOf(p->m_aboutLogoBitmap), 0, wxALIGN_CENTER | wxTOP, 10},
        {"about title", itemOf(p->m_aboutTitleText), 0, wxALIGN_CENTER | wxALL, 10},
        {"version row", itemOf(aboutColumn, versionRow), 1, wxALIGN_CENTER | wxALL, 5},
        {"version label", itemOf(p->m_versionLabel), 0, wxALIGN_RIGHT, 0},
        {"version", itemOf(p->m_versionText), 0, 0, 0},
    };
    for (const Placement& expected : placements) {
        SCOPED_TRACE(expected.what);
        ASSERT_NE(nullptr, expected.item);
        EXPECT_EQ(expected.proportion, expected.item->GetProportion());
        EXPECT_EQ(expected.flags, expected.item->GetFlag());
        EXPECT_EQ(expected.border, expected.item->GetBorder());
    }
}

// The spacers: the cell they sit in, their size, and their placement.
TEST_F(PanelTest, Spacers) {
    wxSizer* column = m_panel->m_logoBitmap->GetContainingSizer();
    struct Spacer {
        wxSizer* sizer;
        size_t index;
        wxSize size;
        int proportion;
        int flags;
        int border;
    };
    const Spacer spacers[] = {
        {column, 2, wxSize(0, 5), 1, wxEXPAND | wxALL, 5},
        {column, 4, wxSize(0, 20), 1, 0, 5},
        {column, 6, wxSize(0, 0), 1, wxEXPAND | wxALL, 5},
        {m_panel->m_powerButton->GetContainingSizer(), 1, wxSize(20, 0), 1, wxEXPAND, 5},
        {m_panel->m_interfaceChoice->GetContainingSizer(), 2, wxSize(0, 20), 1, wxEXPAND, 5},
        {m_panel->m_networkBitmap->GetContainingSizer(), 1, wxSize(5, 0), 1, wxEXPAND, 0},
        {m_panel->m_helpButton->GetContainingSizer(), 0, wxSize(12, 12), 1, 0, 0},
        {m_panel->m_helpButton->GetContainingSizer(), 1, wxSize(12, 12), 1, 0, 0},
    };
    for (const Spacer& expected : spacers) {
        SCOPED_TRACE(::testing::Message() << "spacer " << expected.index);
        wxSizerItem* item = itemAt(expected.sizer, expected.index);
        ASSERT_NE(nullptr, item);
        ASSERT_TRUE(item->IsSpacer());
        EXPECT_EQ(expected.size, item->GetMinSize());
        EXPECT_EQ(expected.proportion, item->GetProportion());
        EXPECT_EQ(expected.flags, item->GetFlag());
        EXPECT_EQ(expected.border, item->GetBorder());
    }
    // Cells in order: the help button in the second row, first column.
    EXPECT_EQ(m_panel->m_helpButton,
              itemAt(m_panel->m_helpButton->GetContainingSizer(), 2)->GetWindow());
    EXPECT_EQ(m_panel->m_encodingChoice,
              itemAt(m_panel->m_encodingChoice->GetContainingSizer(), 5)->GetWindow());
}

// The help button sits in the top right corner of the page, 12 pixels down,
// right of the content; the spacer panel keeps the content off the left edge.
TEST_F(PanelTest, WhereTheWindowsLand) {
    m_panel->m_settingsPage->Layout();
    const wxRect help = m_panel->m_helpButton->GetRect();
    const wxRect advanced = m_panel->m_advancedButton->GetRect();
    const wxRect power = m_panel->m_powerButton->GetRect();
    const wxRect spacer = m_panel->m_spacerPanel->GetRect();
    EXPECT_EQ(12, help.GetTop());
    EXPECT_GT(help.GetLeft(), advanced.GetRight());
    EXPECT_LT(help.GetBottom(), m_panel->m_titleText->GetRect().GetTop());
    EXPECT_EQ(wxPoint(5, 5), spacer.GetTopLeft());
    EXPECT_GT(power.GetLeft(), spacer.GetRight());
    // Top to bottom: logo, title, audio row, network row, buttons.
    EXPECT_LT(m_panel->m_logoBitmap->GetRect().GetBottom(),
              m_panel->m_titleText->GetRect().GetTop());
    EXPECT_LT(m_panel->m_titleText->GetRect().GetBottom(), power.GetTop());
    EXPECT_LT(power.GetBottom(), m_panel->m_networkBitmap->GetRect().GetTop());
    EXPECT_LT(m_panel->m_networkBitmap->GetRect().GetBottom(), advanced.GetTop());
    EXPECT_LT(m_panel->m_platformButton->GetRect().GetRight(), advanced.GetLeft());
}

// ---- routes ------------------------------------------------------------------

// One event as a control sends it.
struct Route {
    const char* name;
    std::function<wxWindow*(PlainPanel*)> control;
    wxEventType type;
    const char* handler;
};

std::vector<Route> routes() {
    return {
        {"PowerClick", [](PlainPanel* p) { return p->m_powerButton; }, wxEVT_BUTTON,
         "OnPowerButton"},
        {"PowerLeftDown", [](PlainPanel* p) { return p->m_powerButton; }, wxEVT_LEFT_DOWN,
         "OnPowerLeftDown"},
        {"PowerLeftUp", [](PlainPanel* p) { return p->m_powerButton; }, wxEVT_LEFT_UP,
         "OnPowerLeftUp"},
        {"InterfaceChoice", [](PlainPanel* p) { return p->m_interfaceChoice; }, wxEVT_CHOICE,
         "OnInterfaceChoice"},
        {"SampleRateChoice", [](PlainPanel* p) { return p->m_sampleRateChoice; }, wxEVT_CHOICE,
         "OnInterfaceChoice"},
        {"EncodingChoice", [](PlainPanel* p) { return p->m_encodingChoice; }, wxEVT_CHOICE,
         "OnEncodingChoice"},
        {"LatencyChoice", [](PlainPanel* p) { return p->m_latencyChoice; }, wxEVT_CHOICE,
         "OnLatencyChoice"},
        {"NetworkChoice", [](PlainPanel* p) { return p->m_networkChoice; }, wxEVT_CHOICE,
         "OnNetworkChoice"},
        {"PlatformClick", [](PlainPanel* p) { return p->m_platformButton; }, wxEVT_BUTTON,
         "OnPlatformButton"},
        {"AdvancedClick", [](PlainPanel* p) { return p->m_advancedButton; }, wxEVT_BUTTON,
         "OnAdvancedButton"},
        {"HelpClick", [](PlainPanel* p) { return p->m_helpButton; }, wxEVT_BUTTON, "OnHelpButton"},
    };
}

bool isMouse(wxEventType type) {
    return type == wxEVT_LEFT_DOWN || type == wxEVT_LEFT_UP;
}

// Sends the event a control sends; true when some handler kept it.
bool send(wxWindow* control, wxEventType type) {
    if (isMouse(type)) {
        wxMouseEvent event(type);
        event.SetId(control->GetId());
        event.SetEventObject(control);
        event.SetPosition(wxPoint(10, 10));
        return control->ProcessWindowEvent(event);
    }
    wxCommandEvent event(type, control->GetId());
    event.SetEventObject(control);
    if (type == wxEVT_CHOICE) {
        event.SetInt(0);
    }
    return control->ProcessWindowEvent(event);
}

// What reaches the frame was let pass on by the panel.
class RouteTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        auto reached = [this](wxCommandEvent& event) {
            m_atFrame.push_back(event.GetEventObject());
        };
        m_frame->Bind(wxEVT_BUTTON, reached);
        m_frame->Bind(wxEVT_CHOICE, reached);
    }

    void clear() {
        g_calls.clear();
        m_atFrame.clear();
    }

    std::vector<wxObject*> m_atFrame;
};

TEST_F(RouteTest, EachEventReachesItsHandlerOnly) {
    m_panel->passOn = false;
    for (const Route& route : routes()) {
        SCOPED_TRACE(route.name);
        clear();
        wxWindow* control = route.control(m_panel);
        EXPECT_TRUE(send(control, route.type));
        ASSERT_EQ(std::vector<std::string>{route.handler}, handlersCalled());
        EXPECT_EQ(control, g_calls[0].source);
        EXPECT_TRUE(m_atFrame.empty()) << "a kept event goes no further";
    }
}

// Command events climb to the frame, which keeps them; mouse events stay
// with their window, where nothing else handles them.
TEST_F(RouteTest, PassingOnReachesTheParents) {
    for (const Route& route : routes()) {
        SCOPED_TRACE(route.name);
        clear();
        wxWindow* control = route.control(m_panel);
        const bool kept = send(control, route.type);
        EXPECT_EQ(std::vector<std::string>{route.handler}, handlersCalled());
        if (isMouse(route.type)) {
            EXPECT_FALSE(kept);
            EXPECT_TRUE(m_atFrame.empty());
        } else {
            EXPECT_TRUE(kept);
            EXPECT_EQ(std::vector<wxObject*>{control}, m_atFrame);
        }
    }
}

TEST_F(RouteTest, TheDefaultHandlersLetTheEventsPassOn) {
    // A panel with the default handlers in place of the recording one.
    delete m_panel;
    CurrentDirectory inBin(qelguitest::binDir());
    PlainPanel* plain = new PlainPanel(m_frame);
    for (const Route& route : routes()) {
        SCOPED_TRACE(route.name);
        clear();
        wxWindow* control = route.control(plain);
        const bool kept = send(control, route.type);
        if (isMouse(route.type)) {
            EXPECT_FALSE(kept);
        } else {
            EXPECT_TRUE(kept);
            EXPECT_EQ(std::vector<wxObject*>{control}, m_atFrame);
        }
        EXPECT_TRUE(g_calls.empty());
    }
}

TEST_F(PanelTest, TheDefaultHandlersSkip) {
    delete m_panel;
    CurrentDirectory inBin(qelguitest::binDir());
    PlainPanel* plain = new PlainPanel(m_frame);
    using Command = void (PlainPanel::*)(wxCommandEvent&);
    for (Command handler :
         {&PlainPanel::OnPowerButton, &PlainPanel::OnInterfaceChoice, &PlainPanel::OnEncodingChoice,
          &PlainPanel::OnLatencyChoice, &PlainPanel::OnNetworkChoice, &PlainPanel::OnPlatformButton,
          &PlainPanel::OnAdvancedButton, &PlainPanel::OnHelpButton}) {
        wxCommandEvent event(wxEVT_BUTTON);
        (plain->*handler)(event);
        EXPECT_TRUE(event.GetSkipped());
    }
    using Mouse = void (PlainPanel::*)(wxMouseEvent&);
    for (Mouse handler : {&PlainPanel::OnPowerLeftDown, &PlainPanel::OnPowerLeftUp}) {
        wxMouseEvent event(wxEVT_LEFT_DOWN);
        (plain->*handler)(event);
        EXPECT_TRUE(event.GetSkipped());
    }
}

TEST_F(PanelTest, EventsOfOtherKindsOrWindowsReachNoHandler) {
    m_panel->passOn = false;
    send(m_panel->m_helpButton, wxEVT_LEFT_DOWN);
    send(m_panel->m_platformButton, wxEVT_LEFT_UP);
    send(m_panel->m_settingsPage, wxEVT_BUTTON);
    send(m_panel->m_notebook, wxEVT_CHOICE);
    send(m_panel, wxEVT_BUTTON);
    send(m_panel->m_interfaceChoice, wxEVT_BUTTON);
    send(m_panel->m_powerButton, wxEVT_CHOICE);
    send(m_panel->m_powerButton, wxEVT_RIGHT_DOWN);
    EXPECT_TRUE(g_calls.empty());
}

// A real click of the mouse on the shown power button: pressed, released and
// clicked, each reaching its handler, and the click happens only because the
// press and the release are let pass on to the button.
TEST_F(PanelTest, AMouseClickOnThePowerButton) {
    m_frame->SetPosition(wxPoint(0, 0));
    m_frame->Show();
    m_frame->Raise();
    wxBitmapButton* power = m_panel->m_powerButton;
    ASSERT_TRUE(qeltest::pumpUntil([&] {
        wxYield();
        return power->IsShownOnScreen() && power->GetScreenRect().GetWidth() == 64;
    }));
    for (int i = 0; i < 10; ++i) {
        wxYield();
        wxMilliSleep(10);
    }

    wxUIActionSimulator mouse;
    const wxRect rect = power->GetScreenRect();
    ASSERT_TRUE(mouse.MouseMove(rect.GetLeft() + rect.GetWidth() / 2,
                                rect.GetTop() + rect.GetHeight() / 2));
    wxYield();
    ASSERT_TRUE(mouse.MouseClick());
    const bool clicked = qeltest::pumpUntil(
        [] {
            wxYield();
            const std::vector<std::string> names = handlersCalled();
            return std::find(names.begin(), names.end(), "OnPowerButton") != names.end();
        },
        5000);
    EXPECT_TRUE(clicked);
    EXPECT_EQ((std::vector<std::string>{"OnPowerLeftDown", "OnPowerLeftUp", "OnPowerButton"}),
              handlersCalled());
}

// ---- destruction -------------------------------------------------------------

// A window destroyed together with the panel, before its controls: it sends
// each control its event while the controls still exist, after the panel
// base has removed its routes.
class LateSender : public wxWindow {
public:
    LateSender(wxWindow* parent, PlainPanel* panel, int* sent)
        : wxWindow(parent, wxID_ANY), m_sent(sent) {
        // The controls are taken now: the panel itself is gone by the time
        // they are used, the controls are not.
        for (const Route& route : routes()) {
            m_targets.emplace_back(route.control(panel), route.type);
        }
    }
    ~LateSender() override {
        for (const auto& [control, type] : m_targets) {
            send(control, type);
            ++*m_sent;
        }
    }

private:
    std::vector<std::pair<wxWindow*, wxEventType>> m_targets;
    int* m_sent;
};

TEST_F(PanelTest, TheDestructorRemovesEveryRoute) {
    int sent = 0;
    m_panel->passOn = false;
    // The spacer panel is the first window of the Settings page, destroyed
    // before every control.
    new LateSender(m_panel->m_spacerPanel, m_panel, &sent);
    delete m_panel;
    EXPECT_EQ(int(routes().size()), sent);
    EXPECT_TRUE(g_calls.empty());
}

TEST_F(PanelTest, WhileThePanelLivesTheLateSenderIsHeard) {
    int sent = 0;
    m_panel->passOn = false;
    wxWindow* sender = new LateSender(m_panel->m_spacerPanel, m_panel, &sent);
    delete sender;
    EXPECT_EQ(int(routes().size()), sent);
    EXPECT_EQ(routes().size(), g_calls.size());
}

} // namespace
