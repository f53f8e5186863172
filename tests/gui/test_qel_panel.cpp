// The main panel, its ASIO variant and their dialogs, driven through their
// real windows with a client of a scripted manager: what the controls show,
// the configurations they send, the warnings, help, listening, and the
// keyboard.
#include "QelAccessible.h"
#include "QelAdvancedDialog.h"
#include "QelAsioConfig.h"
#include "QelAsioDialog.h"
#include "QelAsioFactory.h"
#include "QelAsioPanel.h"
#include "QelClient.h"
#include "QelGuiPanel.h"
#include "QelImageManager.h"
#include "QelMessageBox.h"
#include "QelOptions.h"
#include "QelRecordText.h"
#include "QelState.h"
#include "QelText.h"

#include "box_support.h"
#include "gui_test_support.h"
#include "log_capture.h"

#include "kes_text.h"
#include "qel_codec.h"
#include "tesk2_client.h"

#include <gtest/gtest.h>

#include <wx/bmpbndl.h>
#include <wx/button.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/testing.h>
#include <wx/translation.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace qeltest {
namespace {

using qelguitest::binDir;

const char k_latencyWarning[] =
    "You have changed the latency setting of your Qelvane. Any Lirva-enabled devices currently "
    "receiving audio from this Qelvane will require their subscriptions to be reset. Please use "
    "the Lirva Controller to unsubscribe / re-subscribe all relevant subscriptions, or if easier "
    "restart each receiving device.";
const char k_rebootWarning[] =
    "You have changed the audio interface of your Qelvane. A reboot is required for this changed "
    "to be applied. Please reboot your PC before continuing.";

Box warning(const std::string& text) {
    return Box{wxOK | wxICON_WARNING, text, "Warning"};
}

// Opens the panels' members to the tests.
template <typename Base> class Open : public Base {
public:
    using Base::Base;
    using Base::m_aboutLogoBitmap;
    using Base::m_advancedButton;
    using Base::m_encodingChoice;
    using Base::m_formatLabel;
    using Base::m_helpButton;
    using Base::m_interfaceChoice;
    using Base::m_interfaceLabel;
    using Base::m_ipLabel;
    using Base::m_ipText;
    using Base::m_latencyChoice;
    using Base::m_latencyLabel;
    using Base::m_logoBitmap;
    using Base::m_macLabel;
    using Base::m_macText;
    using Base::m_networkBitmap;
    using Base::m_networkChoice;
    using Base::m_networkImages;
    using Base::m_notebook;
    using Base::m_platformButton;
    using Base::m_powerButton;
    using Base::m_powerImages;
    using Base::m_powerOn;
    using Base::m_sampleRateChoice;
    using Base::m_settingsPage;
    using Base::m_spacerPanel;
    using Base::m_statusText;
    using Base::m_versionText;
};
using OpenPanel = Open<QelPanel>;
using OpenAsioPanel = Open<QelAsioPanel>;

// The items, then "=" and the selected text ("" when none).
std::string shown(const wxChoice* choice) {
    std::string text;
    for (unsigned int i = 0; i < choice->GetCount(); ++i) {
        text += choice->GetString(i).utf8_string() + ",";
    }
    const int at = choice->GetSelection();
    return text + "=" + (at == wxNOT_FOUND ? "" : choice->GetString(at).utf8_string());
}

bool showsPicture(const wxBitmap& bitmap, const std::string& name) {
    wxImage file;
    EXPECT_TRUE(file.LoadFile(binDir() + wxT("/res/") + wxString::FromUTF8(name) + wxT(".png"),
                              wxBITMAP_TYPE_PNG));
    return bitmap.IsOk() && qelguitest::sameOpaquePixels(file, bitmap.ConvertToImage());
}

// A bundle of the picture called `name` with its double-size picture: the
// bundle's size is the picture's, and at twice that size it gives the
// double-size file's own pixels, not the picture enlarged.
bool bundlesPicture(const wxBitmapBundle& bundle, const std::string& name) {
    wxImage twice;
    EXPECT_TRUE(twice.LoadFile(binDir() + wxT("/res/") + wxString::FromUTF8(name) + wxT("@2x.png"),
                               wxBITMAP_TYPE_PNG));
    return bundle.IsOk() && bundle.GetDefaultSize() * 2 == twice.GetSize() &&
           showsPicture(bundle.GetBitmap(bundle.GetDefaultSize()), name) &&
           qelguitest::sameOpaquePixels(twice, bundle.GetBitmap(twice.GetSize()).ConvertToImage());
}

std::vector<std::pair<wxString, int>> g_launched;
bool fakeLauncher(const wxString& url, int flags) {
    g_launched.emplace_back(url, flags);
    return true;
}

std::string diagnostic(const char* operation, const void* options, const void* state,
                       const char* tail = "") {
    char line[256];
    std::snprintf(line, sizeof line, "%s(%p,%p)%s\n", operation, options, state, tail);
    return line;
}

// What `run` writes to standard error.
std::string stderrOf(const std::function<void()>& run) {
    testing::internal::CaptureStderr();
    run();
    return testing::internal::GetCapturedStderr();
}

size_t refreshes(const std::string& err) {
    size_t count = 0;
    for (size_t at = err.find("QelPanel::setOptionsState("); at != std::string::npos;
         at = err.find("QelPanel::setOptionsState(", at + 1)) {
        ++count;
    }
    return count;
}

qel_state asioState(uint16_t lockFlags = 0) {
    qel_state state = sampleState();
    state.config.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    state.config_lock_flags = lockFlags;
    return state;
}

class PanelTest : public InterfaceTest {
protected:
    void SetUp() override {
        InterfaceTest::SetUp();
        qelguitest::registerImageHandlers();
        wxArrayString directories;
        directories.Add(binDir() + wxT("/"));
        directories.Add(binDir() + wxT("/res/"));
        m_images = std::make_unique<QelImageManager>(&directories);
        m_frame = new wxFrame(nullptr, wxID_ANY, wxT("panel"), wxDefaultPosition, wxSize(595, 400));
        // What reaches the frame was let pass on by the panel.
        m_frame->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++m_passedOn; });
        m_frame->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { ++m_passedOn; });
        g_launched.clear();
    }

    void TearDown() override {
        qelSetBrowserLauncher(nullptr);
        delete m_frame; // with the panels, which leave the client's listeners
        InterfaceTest::TearDown();
    }

    // The layout opens its pictures relative to the program's directory.
    template <typename P, typename... Rest> P* make(Rest... rest) {
        qelguitest::CurrentDirectory inBin(binDir());
        return new P(m_frame, &m_factory, rest...);
    }
    OpenPanel* plain() { return make<OpenPanel>(wxString(), m_images.get()); }
    OpenAsioPanel* asio() { return make<OpenAsioPanel>(m_images.get()); }

    void process() {
        ASSERT_TRUE(waitReadable(managerClient()->socket));
        ASSERT_EQ(tesk2_client_process(managerClient()->protocol), KES_SUCCESS);
    }
    void sendOptions(const qel_options& options) {
        m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_OPTIONS, optionsBody(options));
        ASSERT_NO_FATAL_FAILURE(process());
    }
    // The manager answers CONNECT and sends the options only.
    void connectWithoutState() {
        ASSERT_EQ(makeClient(), KES_SUCCESS);
        ASSERT_EQ(m_client->connect(), KES_SUCCESS);
        Datagram connect;
        ASSERT_TRUE(m_manager.receive(connect));
        m_manager.reply(connect, TESK2_STATUS_RESPONSE, infoBody());
        ASSERT_EQ(m_client->waitForConnection(), KES_SUCCESS);
    }

    // The SET CONFIG request the panel sent, decoded.
    void receiveConfig(qel_config* config, Datagram* request = nullptr) {
        Datagram d;
        ASSERT_TRUE(m_manager.receive(d)) << "no configuration was sent";
        ASSERT_EQ(d.opcode, QEL_OPCODE_SET_CONFIG);
        tesk2_message message;
        tesk2_message_init(&message);
        std::memcpy(tesk2_message_data(&message), d.bytes.data(), d.bytes.size());
        ASSERT_EQ(qel_config_decode(&message, 0, config), KES_SUCCESS);
        if (request != nullptr) {
            *request = d;
        }
    }
    void answer(const Datagram& request, const qel_state& state) {
        m_manager.reply(request, TESK2_STATUS_RESPONSE, stateBody(state));
        ASSERT_NO_FATAL_FAILURE(process());
    }

    // The user's actions: SetSelection alone sends no event.
    static void choose(wxChoice* choice, const char* text) {
        const int at = choice->FindString(wxString::FromUTF8(text), true);
        ASSERT_NE(at, wxNOT_FOUND) << text;
        choice->SetSelection(at);
        wxCommandEvent event(wxEVT_CHOICE, choice->GetId());
        event.SetEventObject(choice);
        event.SetInt(at);
        choice->GetEventHandler()->ProcessEvent(event);
    }
    static void click(wxControl* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }

    // A state other than sampleState(): an unchanged state is no news to the
    // listeners. The witness listener proves the client did tell.
    void sendNews() {
        if (!m_witnessListens) {
            m_client->addListener(&m_witness);
            m_witnessListens = true;
        }
        m_log.clear();
        ASSERT_NO_FATAL_FAILURE(sendState(stateWith(QEL_SYSTEM_ERROR_NONE, 100 + m_news++)));
        ASSERT_EQ(std::vector<std::string>{"witness:4"}, m_log);
    }

    std::unique_ptr<QelImageManager> m_images;
    wxFrame* m_frame = nullptr;
    int m_passedOn = 0;
    RecordingListener m_witness{&m_log, "witness"};
    bool m_witnessListens = false;
    uint32_t m_news = 0;
};

// ---- construction and display ----------------------------------------------------

TEST_F(PanelTest, Construction) {
    OpenPanel* panel = plain();
    EXPECT_FALSE(panel->m_powerOn);
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-grey"));
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapPressed(), "dpi90-power-grey-pressed"));
    EXPECT_TRUE(showsPicture(panel->m_networkBitmap->GetBitmap(), "dpi90-ethernet-nc"));
    EXPECT_FALSE(panel->m_platformButton->IsShown()) << "no platform name";
    EXPECT_EQ(0, panel->m_notebook->GetSelection());
    // The picture buttons say what they do.
    EXPECT_EQ(wxT("Power"), panel->m_powerButton->GetName());
    EXPECT_EQ(wxT("Start or stop the Qelvane"), panel->m_powerButton->GetToolTipText());
    EXPECT_EQ(wxT("Help"), panel->m_helpButton->GetName());
    EXPECT_EQ(wxT("Open the online user guide in your web browser"),
              panel->m_helpButton->GetToolTipText());

    QelPanel* made;
    QelAsioFactory factory;
    {
        qelguitest::CurrentDirectory inBin(binDir());
        made = factory.createPanel(m_frame, m_images.get());
    }
    ASSERT_NE(nullptr, dynamic_cast<QelAsioPanel*>(made));
    EXPECT_EQ(m_frame, made->GetParent());
    wxWindow* platform = wxWindow::FindWindowByLabel(wxT("ASIO"), made);
    ASSERT_NE(nullptr, dynamic_cast<wxButton*>(platform)) << "the platform button says ASIO";
    EXPECT_TRUE(platform->IsShown());
}

// Each status picture comes with its double-size picture, for screens with a
// scale of 2, in the order of the pictures' indices.
TEST_F(PanelTest, StatusPicturesComeWithTheirDoubleSizePictures) {
    OpenPanel* panel = plain();
    const char* const power[] = {"dpi90-power-grey", "dpi90-power-grey-pressed",
                                 "dpi90-power-green", "dpi90-power-green-pressed"};
    for (size_t i = 0; i < std::size(power); ++i) {
        EXPECT_TRUE(bundlesPicture(panel->m_powerImages[i], power[i])) << i;
    }
    const char* const network[] = {"dpi90-ethernet-nc",           "dpi90-ethernet-nc",
                                   "dpi90-ethernet-100m-badness", "dpi90-ethernet-1g-badness",
                                   "dpi90-ethernet-100m",         "dpi90-ethernet-1g"};
    for (size_t i = 0; i < std::size(network); ++i) {
        EXPECT_TRUE(bundlesPicture(panel->m_networkImages[i], network[i])) << i;
    }
}

// The logo and the help picture come through the image manager too; where it
// finds none, the layout's own stay.
TEST_F(PanelTest, LogoAndHelpPicturesComeThroughTheImageManager) {
    const wxString directory = wxFileName::GetTempDir() + wxT("/qel-panel-pictures-") +
                               wxString::Format(wxT("%lu/"), wxGetProcessId());
    ASSERT_TRUE(wxFileName::Mkdir(directory, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL));
    wxImage logo(220, 40);
    logo.SetRGB(wxRect(0, 0, 220, 40), 255, 0, 0);
    ASSERT_TRUE(logo.SaveFile(directory + wxT("dpi90-word-ostrane.png"), wxBITMAP_TYPE_PNG));
    wxImage help(24, 24);
    help.SetRGB(wxRect(0, 0, 24, 24), 0, 255, 0);
    ASSERT_TRUE(help.SaveFile(directory + wxT("help_circle_blue_v2.png"), wxBITMAP_TYPE_PNG));
    wxArrayString list;
    list.Add(directory);
    QelImageManager images(&list);

    OpenPanel* panel = make<OpenPanel>(wxString(), &images);
    EXPECT_EQ(255, panel->m_logoBitmap->GetBitmap().ConvertToImage().GetRed(5, 5));
    EXPECT_EQ(255, panel->m_aboutLogoBitmap->GetBitmap().ConvertToImage().GetRed(5, 5));
    EXPECT_EQ(255, panel->m_helpButton->GetBitmapLabel().ConvertToImage().GetGreen(5, 5));
    wxFileName::Rmdir(directory, wxPATH_RMDIR_RECURSIVE);

    wxArrayString nowhere;
    nowhere.Add(binDir() + wxT("/no-such-directory/"));
    QelImageManager none(&nowhere);
    OpenPanel* layouts = make<OpenPanel>(wxString(), &none);
    EXPECT_TRUE(showsPicture(layouts->m_logoBitmap->GetBitmap(), "dpi90-word-ostrane"));
    EXPECT_TRUE(showsPicture(layouts->m_helpButton->GetBitmapLabel(), "help_circle_blue_v2"));
}

TEST_F(PanelTest, PicturesThatCannotBeLoadedStayEmpty) {
    wxArrayString nowhere;
    nowhere.Add(binDir() + wxT("/no-such-directory/"));
    QelImageManager images(&nowhere);
    OpenPanel* panel = make<OpenPanel>(wxString(), &images);
    startUp();
    panel->setClient(m_client.get());
    EXPECT_FALSE(panel->m_powerButton->GetBitmapLabel().IsOk());
    EXPECT_FALSE(panel->m_networkBitmap->GetBitmap().IsOk());
}

TEST_F(PanelTest, ShowsOptionsStateAndVersionAndFollowsTheManager) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    EXPECT_EQ("eth0,wlan0,=eth0", shown(panel->m_networkChoice));
    EXPECT_EQ("44100 Hz,48000 Hz,96000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));
    EXPECT_EQ("16 bit,24 bit,=24 bit", shown(panel->m_encodingChoice));
    EXPECT_EQ("1 ms,2 ms,5 ms,=2 ms", shown(panel->m_latencyChoice));
    EXPECT_EQ(wxT("00:1b:21:3c:4d:5e"), panel->m_macText->GetLabelText());
    EXPECT_EQ(wxT("192.168.1.20"), panel->m_ipText->GetLabelText());
    EXPECT_EQ(wxT("1.4.2b"), panel->m_versionText->GetLabelText());
    EXPECT_TRUE(panel->m_powerOn);
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-green"));
    EXPECT_TRUE(
        showsPicture(panel->m_powerButton->GetBitmapPressed(), "dpi90-power-green-pressed"));

    qel_state stopped = sampleState();
    stopped.config.want_to_run = 0;
    stopped.config.sample_rate_hz = 44100;
    kes_strlcpy(stopped.config.latency, "High", sizeof stopped.config.latency);
    ASSERT_NO_FATAL_FAILURE(sendState(stopped));
    EXPECT_EQ("1 ms,2 ms,5 ms,=5 ms", shown(panel->m_latencyChoice));
    EXPECT_EQ("44100 Hz,48000 Hz,96000 Hz,=44100 Hz", shown(panel->m_sampleRateChoice));
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-grey"));

    qel_options fewer = sampleOptions();
    fewer.latencies.count = 2; // "High" is gone: its text is no item
    ASSERT_NO_FATAL_FAILURE(sendOptions(fewer));
    EXPECT_EQ("1 ms,2 ms,=", shown(panel->m_latencyChoice));
}

// A click that only turns the power button costs no layout pass; a text
// that changes is laid out. The address is moved aside as a marker that a
// layout pass would put back.
TEST_F(PanelTest, ARefreshLaysThePageOutOnlyWhenSomethingTookAnotherSize) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    const wxPoint laidOut = panel->m_ipText->GetPosition();
    const wxPoint aside = laidOut + wxPoint(7, 3);
    panel->m_ipText->Move(aside);

    qel_state turned = asioState();
    turned.config.want_to_run = turned.config.want_to_run != 0 ? 0 : 1;
    ASSERT_NO_FATAL_FAILURE(sendState(turned));
    EXPECT_EQ(turned.config.want_to_run != 0, panel->m_powerOn);
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), turned.config.want_to_run != 0
                                                                         ? "dpi90-power-green"
                                                                         : "dpi90-power-grey"));
    EXPECT_EQ(aside, panel->m_ipText->GetPosition()) << "the power alone lays nothing out";

    qel_state moved = turned;
    const uint8_t address[4] = {10, 0, 0, 1};
    std::memcpy(moved.ip_address, address, sizeof address);
    ASSERT_NO_FATAL_FAILURE(sendState(moved));
    EXPECT_EQ(wxT("10.0.0.1"), panel->m_ipText->GetLabelText());
    EXPECT_EQ(laidOut, panel->m_ipText->GetPosition()) << "a new address is laid out";
}

TEST_F(PanelTest, NetworkPictureAndAddress) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    struct Case {
        uint32_t linkUp;
        uint8_t ip[4];
        uint32_t speed;
        const char* picture;
        const wchar_t* address;
    };
    const Case cases[] = {
        {0, {192, 168, 1, 20}, 100, "dpi90-ethernet-nc", L"192.168.1.20"},
        {0, {192, 168, 1, 20}, 1000, "dpi90-ethernet-nc", L"192.168.1.20"},
        {1, {0, 0, 0, 0}, 100, "dpi90-ethernet-100m-badness", L"No Address"},
        {1, {0, 0, 0, 0}, 1000, "dpi90-ethernet-1g-badness", L"No Address"},
        {1, {10, 2, 3, 254}, 999, "dpi90-ethernet-100m", L"10.2.3.254"},
        {1, {10, 2, 3, 254}, 1000, "dpi90-ethernet-1g", L"10.2.3.254"},
    };
    for (const Case& c : cases) {
        qel_state state = sampleState();
        state.link_up = c.linkUp;
        std::memcpy(state.ip_address, c.ip, sizeof c.ip);
        state.link_speed = c.speed;
        ASSERT_NO_FATAL_FAILURE(sendState(state));
        EXPECT_EQ(wxString(c.address), panel->m_ipText->GetLabelText());
        for (const Case& other : cases) { // the pictures differ: exactly one matches
            EXPECT_EQ(std::strcmp(other.picture, c.picture) == 0,
                      showsPicture(panel->m_networkBitmap->GetBitmap(), other.picture))
                << "link " << c.linkUp << ", speed " << c.speed << ": " << other.picture;
        }
    }
}

TEST_F(PanelTest, WhatIsEnabled) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    const std::vector<wxWindow*> configuration{panel->m_interfaceChoice, panel->m_sampleRateChoice,
                                               panel->m_encodingChoice,  panel->m_latencyChoice,
                                               panel->m_networkChoice,   panel->m_platformButton,
                                               panel->m_advancedButton};
    for (wxWindow* control : configuration) {
        EXPECT_TRUE(control->IsEnabled()) << control->GetName();
    }
    ASSERT_NO_FATAL_FAILURE(sendState(asioState(0x0001))); // any lock flag
    for (wxWindow* control : configuration) {
        EXPECT_FALSE(control->IsEnabled()) << control->GetName();
    }
    EXPECT_TRUE(panel->m_powerButton->IsEnabled());

    ASSERT_NO_FATAL_FAILURE(sendState(stateWith(QEL_SYSTEM_ERROR_INVALID_CONFIG)));
    EXPECT_FALSE(panel->m_powerButton->IsEnabled());
    EXPECT_TRUE(panel->m_latencyChoice->IsEnabled());
    ASSERT_NO_FATAL_FAILURE(sendState(stateWith(QEL_SYSTEM_ERROR_MANAGER)));
    EXPECT_TRUE(panel->m_powerButton->IsEnabled());

    qel_options single = sampleOptions();
    single.sample_formats.count = 1;
    single.sample_formats.entries[0] = 24;
    single.sample_formats.entries[1] = 0;
    ASSERT_NO_FATAL_FAILURE(sendOptions(single));
    EXPECT_EQ("24 bit,=24 bit", shown(panel->m_encodingChoice));
    EXPECT_FALSE(panel->m_encodingChoice->IsEnabled()) << "nothing to choose";
}

// ---- listening ---------------------------------------------------------------------

TEST_F(PanelTest, ListeningLastsFromSetClientUntilAnotherClientOrTheEnd) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    EXPECT_EQ("", stderrOf([&] { panel->setClient(m_client.get()); })) << "already its client";
    EXPECT_EQ(1u, refreshes(stderrOf([this] { sendNews(); })));

    panel->setClient(nullptr);
    EXPECT_EQ("=", shown(panel->m_latencyChoice));
    EXPECT_EQ("=", shown(panel->m_networkChoice));
    EXPECT_EQ(wxT("?"), panel->m_versionText->GetLabelText());
    EXPECT_EQ(wxT("No Address"), panel->m_ipText->GetLabelText());
    EXPECT_EQ(wxT("00:00:00:00:00:00"), panel->m_macText->GetLabelText());
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-grey"));
    EXPECT_TRUE(showsPicture(panel->m_networkBitmap->GetBitmap(), "dpi90-ethernet-nc"));
    EXPECT_EQ(0u, refreshes(stderrOf([this] { sendNews(); })));

    OpenPanel* gone = plain();
    gone->setClient(m_client.get());
    delete gone; // leaves the listeners
    EXPECT_EQ(0u, refreshes(stderrOf([this] { sendNews(); })));
}

TEST_F(PanelTest, ClientEventsAndTheRefreshDiagnostics) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    QelOptions* options = m_client->getOptions();
    QelState* state = m_client->getState();
    panel->m_versionText->SetLabel(wxT("stale"));
    EXPECT_EQ("", stderrOf([&] {
                  panel->onClientEvent(QEL_CLIENT_EVENT_CONNECTION);
                  panel->onClientEvent(99);
              }));
    EXPECT_EQ(wxT("stale"), panel->m_versionText->GetLabelText());
    panel->onClientEvent(QEL_CLIENT_EVENT_INFO);
    EXPECT_EQ(wxT("1.4.2b"), panel->m_versionText->GetLabelText());

    const std::string refresh =
        diagnostic("QelAsioPanel::setOptionsState", options, state, " AudioInterface=ASIO") +
        diagnostic("QelPanel::setOptionsState", options, state);
    for (int code :
         {QEL_CLIENT_EVENT_REQUEST_DONE, QEL_CLIENT_EVENT_OPTIONS, QEL_CLIENT_EVENT_STATE}) {
        EXPECT_EQ(refresh, stderrOf([&] { panel->onClientEvent(code); })) << code;
    }
    EXPECT_EQ(diagnostic("QelAsioPanel::setOptionsState", nullptr, nullptr, " AudioInterface=") +
                  diagnostic("QelPanel::setOptionsState", nullptr, nullptr),
              stderrOf([&] { panel->setOptionsState(nullptr, nullptr); }));
}

// ---- what the controls send -----------------------------------------------------------

TEST_F(PanelTest, ThePowerButtonSendsTheFlippedWishAndThePictureFollowsTheManager) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    click(panel->m_powerButton);
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    qel_config expected = sampleConfig();
    expected.want_to_run = 0;
    EXPECT_EQ(0, std::memcmp(&expected, &sent, sizeof sent)) << "only the wish changes";
    EXPECT_EQ(1, m_passedOn);
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-green"))
        << "until the manager answers";

    qel_state stopped = sampleState();
    stopped.config.want_to_run = 0;
    ASSERT_NO_FATAL_FAILURE(answer(request, stopped));
    EXPECT_TRUE(showsPicture(panel->m_powerButton->GetBitmapLabel(), "dpi90-power-grey"));
    click(panel->m_powerButton);
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(1u, sent.want_to_run);
}

TEST_F(PanelTest, ALatencyChangeWarnsInARealBoxUnlessItIsTheLatencyInForce) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    qelSetMessageBoxHook(nullptr); // the dialog itself, caught by the test hook
    class ExpectWarning : public wxExpectModalBase<wxMessageDialog, ExpectWarning> {
    protected:
        int OnInvoked(wxMessageDialog* dialog) const override {
            EXPECT_EQ(wxString::FromUTF8(k_latencyWarning), dialog->GetMessage());
            EXPECT_EQ(wxT("Warning"), dialog->GetCaption());
            EXPECT_EQ(wxOK | wxICON_WARNING,
                      dialog->GetMessageDialogStyle() & (wxOK | wxCANCEL | wxYES_NO | wxICON_MASK));
            EXPECT_EQ(nullptr, dialog->GetParent());
            return wxID_OK;
        }
    };
    wxTEST_DIALOG(choose(panel->m_latencyChoice, "5 ms"), ExpectWarning());
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    EXPECT_STREQ("High", sent.latency);
    EXPECT_EQ(16, sent.channels);
    EXPECT_EQ(1, m_passedOn);

    failOnEveryBox();
    ASSERT_NO_FATAL_FAILURE(answer(request, sampleState()));
    choose(panel->m_latencyChoice, "2 ms"); // the latency in force: no box
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_STREQ("Medium", sent.latency);
}

TEST_F(PanelTest, EncodingAndNetworkChangesAreSentSilently) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    choose(panel->m_encodingChoice, "16 bit");
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    EXPECT_EQ(16, sent.sample_format);
    ASSERT_NO_FATAL_FAILURE(answer(request, sampleState()));
    EXPECT_EQ("16 bit,24 bit,=24 bit", shown(panel->m_encodingChoice)) << "the manager decides";

    choose(panel->m_networkChoice, "wlan0");
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(wxT("wlan0"), qelTextFromUtf16(sent.interface.name, QEL_INTERFACE_NAME_SIZE));
    const uint8_t wlan0[] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};
    EXPECT_EQ(0, std::memcmp(wlan0, sent.interface.mac, sizeof wlan0));
    EXPECT_EQ(2, m_passedOn);
}

TEST_F(PanelTest, ASampleRateWithFewerChannelsLowersTheCountAndSaysSo) {
    OpenPanel* panel = plain();
    qel_state many = sampleState();
    many.config.channels = 64;
    startUp(many);
    panel->setClient(m_client.get());
    BoxRecorder boxes;
    choose(panel->m_sampleRateChoice, "96000 Hz");
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    EXPECT_EQ(32, sent.channels);
    EXPECT_EQ(96000u, sent.sample_rate_hz);
    EXPECT_EQ(std::vector<Box>{warning("Channel count reduced to 32 due to sample rate 96000 Hz")},
              boxes.boxes());
    ASSERT_NO_FATAL_FAILURE(answer(request, many));
}

// A rate whose limit is no offered count: the count is lowered to the
// largest offered one within the limit, so that the change is still sent.
TEST_F(PanelTest, TheCountIsLoweredToTheLargestOfferedOneTheRateAllows) {
    OpenPanel* panel = plain();
    qel_options options = sampleOptions();
    options.sample_rates.entries[2].max_channels = 24; // 96000 Hz: 2 4 8 16 offered within it
    qel_state many = sampleState();
    many.config.channels = 64;
    startUp(many);
    ASSERT_NO_FATAL_FAILURE(sendOptions(options));
    panel->setClient(m_client.get());
    BoxRecorder boxes;
    choose(panel->m_sampleRateChoice, "96000 Hz");
    qel_config sent{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(16, sent.channels);
    EXPECT_EQ(std::vector<Box>{warning("Channel count reduced to 16 due to sample rate 96000 Hz")},
              boxes.boxes());
}

TEST_F(PanelTest, WhatCannotBeSentIsDroppedSilently) {
    OpenPanel* panel = plain();
    qel_state odd = sampleState();
    odd.config.channels = 12; // no offered count
    startUp(odd);
    panel->setClient(m_client.get());
    click(panel->m_powerButton); // every box fails the test
    EXPECT_TRUE(m_manager.idle());
    EXPECT_FALSE(panel->m_powerOn) << "the flipped wish stays until the next state";
    click(panel->m_powerButton);
    EXPECT_TRUE(panel->m_powerOn);
}

TEST_F(PanelTest, WithoutOptionsNothingIsSentAndNothingWarns) {
    OpenAsioPanel* panel = asio();
    ASSERT_NO_FATAL_FAILURE(connectWithoutState());
    ASSERT_NO_FATAL_FAILURE(sendState(sampleState()));
    ASSERT_EQ(nullptr, m_client->getOptions());
    panel->setClient(m_client.get());
    EXPECT_EQ("=", shown(panel->m_latencyChoice));
    EXPECT_EQ("WDM,ASIO,=WDM", shown(panel->m_interfaceChoice));
    click(panel->m_powerButton);
    choose(panel->m_interfaceChoice, "ASIO"); // every box fails the test
    EXPECT_TRUE(m_manager.idle());
}

TEST_F(PanelTest, ApplyToConfigTakesTheControlsValues) {
    OpenAsioPanel* panel = asio();
    QelAsioConfig config;
    config.m_interfaceName = wxT("eth7");
    config.m_channels = wxT("8");
    panel->applyToConfig(config); // without a client the interface stays
    EXPECT_EQ(wxT("eth7"), config.m_interfaceName);
    EXPECT_EQ(wxT("48000 Hz"), config.m_sampleRate) << "the layout's placeholder";

    startUp(asioState());
    panel->setClient(m_client.get());
    panel->m_networkChoice->SetSelection(1);
    panel->m_sampleRateChoice->SetSelection(0);
    panel->m_encodingChoice->SetSelection(wxNOT_FOUND);
    panel->m_latencyChoice->SetSelection(2);
    panel->applyToConfig(config);
    EXPECT_EQ(wxT("wlan0"), config.m_interfaceName);
    EXPECT_EQ(0x02, config.m_interfaceMac[0]);
    EXPECT_EQ(0x42, config.m_interfaceMac[1]);
    EXPECT_EQ(wxT("44100 Hz"), config.m_sampleRate);
    EXPECT_EQ(wxT("24 bit"), config.m_sampleFormat) << "nothing selected: kept as it was";
    EXPECT_EQ(wxT("5 ms"), config.m_latency);
    EXPECT_EQ(wxT("ASIO"), config.m_audioInterface);
    EXPECT_TRUE(config.m_wantToRun);
    EXPECT_EQ(wxT("8"), config.m_channels);

    // A choice with nothing selected leaves the configuration's value alone.
    panel->m_networkChoice->SetSelection(wxNOT_FOUND);
    panel->m_interfaceChoice->SetSelection(wxNOT_FOUND);
    panel->m_latencyChoice->SetSelection(wxNOT_FOUND);
    panel->applyToConfig(config);
    EXPECT_EQ(wxT("wlan0"), config.m_interfaceName);
    EXPECT_EQ(0x02, config.m_interfaceMac[0]);
    EXPECT_EQ(wxT("5 ms"), config.m_latency);
    EXPECT_EQ(wxT("ASIO"), config.m_audioInterface);
}

// A value the options no longer offer leaves its choice blank; changing
// something else sends the value in force for it, never an empty one, and
// warns of nothing that was not sent.
TEST_F(PanelTest, NothingSelectedKeepsTheValueInForce) {
    OpenAsioPanel* panel = asio();
    qel_state wdm96k = sampleState();
    wdm96k.config.sample_rate_hz = 96000; // switched from ASIO at 96 kHz
    wdm96k.config.channels = 32;
    startUp(wdm96k);
    panel->setClient(m_client.get());
    EXPECT_EQ("44100 Hz,48000 Hz,=", shown(panel->m_sampleRateChoice)) << "96 kHz is ASIO's";
    click(panel->m_powerButton); // every box fails the test
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    EXPECT_EQ(96000u, sent.sample_rate_hz);
    EXPECT_EQ(32, sent.channels);
    EXPECT_EQ(0u, sent.want_to_run);
    ASSERT_NO_FATAL_FAILURE(answer(request, wdm96k));

    // The configured interface is unplugged: its choice is blank, and a
    // configuration that keeps it is not valid, so nothing is sent, and in
    // particular not "no interface".
    qel_options unplugged = sampleOptions();
    unplugged.interfaces.entries[0] = unplugged.interfaces.entries[1];
    unplugged.interfaces.count = 1;
    ASSERT_NO_FATAL_FAILURE(sendOptions(unplugged));
    EXPECT_EQ("wlan0,=", shown(panel->m_networkChoice));
    choose(panel->m_latencyChoice, "5 ms");
    click(panel->m_powerButton);
    EXPECT_TRUE(m_manager.idle());
    ASSERT_NO_FATAL_FAILURE(sendOptions(sampleOptions()));
    click(panel->m_powerButton);
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(0, std::memcmp(sent.interface.mac, sampleConfig().interface.mac, QEL_MAC_SIZE));
}

// In ASIO mode the panel offers 96 kHz whether the manager does or not; a
// rate the manager does not offer has no channel limit to lower to.
TEST_F(PanelTest, ARateTheManagerDoesNotOfferIsNeitherSentNorWarnedAbout) {
    OpenAsioPanel* panel = asio();
    qel_options no96k = sampleOptions();
    no96k.sample_rates.count = 2;
    qel_state state = asioState();
    state.config.channels = 64;
    startUp(state);
    ASSERT_NO_FATAL_FAILURE(sendOptions(no96k));
    panel->setClient(m_client.get());
    EXPECT_EQ("44100 Hz,48000 Hz,96000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));
    choose(panel->m_sampleRateChoice, "96000 Hz"); // every box fails the test
    EXPECT_TRUE(m_manager.idle());
}

// The reboot and re-subscribe warnings follow a change that was sent (or
// kept to be sent), and only such a change.
TEST_F(PanelTest, WarningsFollowOnlyAChangeThatWasSent) {
    OpenAsioPanel* panel = asio();
    qel_state odd = sampleState();
    odd.config.channels = 12; // no offered count: nothing built from it is valid
    startUp(odd);
    panel->setClient(m_client.get());
    choose(panel->m_latencyChoice, "5 ms"); // every box fails the test
    choose(panel->m_interfaceChoice, "ASIO");
    EXPECT_TRUE(m_manager.idle());

    ASSERT_NO_FATAL_FAILURE(sendState(sampleState()));
    BoxRecorder boxes;
    choose(panel->m_latencyChoice, "5 ms");
    Datagram request;
    qel_config sent{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    // While that is outstanding, the next change is kept, and warned about.
    choose(panel->m_interfaceChoice, "ASIO");
    EXPECT_TRUE(m_manager.idle());
    EXPECT_EQ((std::vector<Box>{warning(k_latencyWarning), warning(k_rebootWarning)}),
              boxes.boxes());
    ASSERT_NO_FATAL_FAILURE(answer(request, sampleState()));
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(QEL_AUDIO_INTERFACE_ASIO, sent.audio_interface);
}

// Two quick clicks: the second is made before the first is answered. The
// manager ends in the state the second asked for.
TEST_F(PanelTest, TwoQuickClicksOnThePowerButtonEndInTheStateOfTheSecond) {
    OpenPanel* panel = plain();
    startUp(); // running
    panel->setClient(m_client.get());
    click(panel->m_powerButton);
    click(panel->m_powerButton);
    qel_config first{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&first, &request));
    EXPECT_EQ(0u, first.want_to_run);
    EXPECT_TRUE(m_manager.idle()) << "one request at a time";
    qel_state stopped = sampleState();
    stopped.config.want_to_run = 0;
    ASSERT_NO_FATAL_FAILURE(answer(request, stopped));
    qel_config second{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&second, &request));
    EXPECT_EQ(1u, second.want_to_run);
    ASSERT_NO_FATAL_FAILURE(answer(request, sampleState()));
    EXPECT_TRUE(m_manager.idle()) << "only the newest was kept";
    EXPECT_TRUE(panel->m_powerOn);
}

std::vector<std::string> g_asserts;
void collectAssert(const wxString& file, int, const wxString&, const wxString&,
                   const wxString& msg) {
    g_asserts.push_back(file.utf8_string() + ": " + msg.utf8_string());
}

TEST_F(PanelTest, ApplyWithoutAClientIsAProgrammingError) {
    OpenPanel* panel = plain();
    g_asserts.clear();
    wxAssertHandler_t previous = wxSetAssertHandler(&collectAssert);
    panel->apply();
    wxSetAssertHandler(previous);
    ASSERT_EQ(1u, g_asserts.size());
    EXPECT_NE(std::string::npos, g_asserts[0].find("src/QelGuiPanel")) << g_asserts[0];
}

// ---- what a screen reader is told ----------------------------------------------------------

TEST_F(PanelTest, EveryControlIsNamedAndLabelledForAScreenReader) {
    OpenAsioPanel* panel = asio();
    EXPECT_EQ(wxT("Sound card: unknown"), qelAccessibleName(panel->m_powerButton));
    EXPECT_EQ(wxT("Start or stop the Qelvane"), qelAccessibleDescription(panel->m_powerButton));
    EXPECT_EQ(wxT("Help"), qelAccessibleName(panel->m_helpButton));
    EXPECT_EQ(wxT("not connected"), qelAccessibleName(panel->m_networkBitmap));
    EXPECT_EQ(wxT("Network interface"), qelAccessibleName(panel->m_networkChoice));
    struct Labelled {
        wxWindow* control;
        wxWindow* label;
        const char* name; // null: the control's own text
    };
    const Labelled labelled[] = {
        {panel->m_interfaceChoice, panel->m_interfaceLabel, "Audio Interface"},
        {panel->m_sampleRateChoice, panel->m_formatLabel, "Sample rate"},
        {panel->m_encodingChoice, panel->m_formatLabel, "Bits per sample"},
        {panel->m_latencyChoice, panel->m_latencyLabel, "Lirva Latency"},
        {panel->m_ipText, panel->m_ipLabel, "0.0.0.0"},
        {panel->m_macText, panel->m_macLabel, "00:00:00:00:00:00"},
    };
    for (const Labelled& l : labelled) {
        SCOPED_TRACE(l.name);
        EXPECT_TRUE(qelAccessibleLabelled(l.control, l.label));
        EXPECT_EQ(wxString::FromUTF8(l.name), qelAccessibleName(l.control));
    }
}

// The power button names the state in force and the error that stands; the
// network picture says in words what it shows.
TEST_F(PanelTest, ThePowerButtonAndTheNetworkPictureSayWhatTheStateIs) {
    OpenPanel* panel = plain();
    startUp();
    panel->setClient(m_client.get());
    struct Case {
        const char* what;
        std::function<void(qel_state&)> change;
        const char* power;
        const char* description;
        const char* network;
    };
    const std::string tip = "Start or stop the Qelvane";
    const Case cases[] = {
        {"running, up at 1 Gbit/s with an address", [](qel_state&) {}, "Sound card: running", "",
         "eth0: link up at 1 Gbit/s, address 192.168.1.20"},
        {"stopped, up at 100 Mbit/s without an address",
         [](qel_state& s) {
             s.config.want_to_run = 0;
             s.link_speed = 100;
             std::memset(s.ip_address, 0, sizeof s.ip_address);
         },
         "Sound card: stopped", "", "eth0: link up at 100 Mbit/s, no address"},
        {"up at 2.5 Gbit/s", [](qel_state& s) { s.link_speed = 2500; }, "Sound card: running", "",
         "eth0: link up at 2.5 Gbit/s, address 192.168.1.20"},
        {"link down", [](qel_state& s) { s.link_up = 0; }, "Sound card: running", "",
         "eth0: not connected"},
        {"a system error stands",
         [](qel_state& s) { s.system_error = QEL_SYSTEM_ERROR_DRIVER_MISSING; },
         "Sound card: running", ". System error: Can't find audio driver (513)",
         "eth0: link up at 1 Gbit/s, address 192.168.1.20"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qel_state state = sampleState();
        // Every case is news to the client.
        state.device_name[0] = static_cast<char>('a' + m_news++);
        c.change(state);
        BoxRecorder boxes; // the error reporter is not listening here
        ASSERT_NO_FATAL_FAILURE(sendState(state));
        EXPECT_EQ(wxString::FromUTF8(c.power), qelAccessibleName(panel->m_powerButton));
        EXPECT_EQ(wxString::FromUTF8(tip + c.description),
                  qelAccessibleDescription(panel->m_powerButton));
        EXPECT_EQ(wxString::FromUTF8(c.network), qelAccessibleName(panel->m_networkBitmap));
    }
    panel->setClient(nullptr);
    EXPECT_EQ(wxT("Sound card: unknown"), qelAccessibleName(panel->m_powerButton));
    EXPECT_EQ(wxT("not connected"), qelAccessibleName(panel->m_networkBitmap));
}

// ---- the user's language -----------------------------------------------------------------

// Which of the user's languages gets its catalogue: the first that has one,
// with or without its region, unless English comes first.
TEST(UsersLanguage, TheFirstLanguageWithACatalogueIsLoaded) {
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(binDir() + wxT("/locale"));
    struct Case {
        std::vector<const char*> languages;
        const char* chosen;
        const char* interfaceLabel;
    };
    const Case cases[] = {
        {{"de"}, "de", "Audioschnittstelle"},
        {{"de_DE"}, "de_DE", "Audioschnittstelle"},
        {{"de-AT"}, "de_AT", "Audioschnittstelle"},
        {{"fr_FR", "fr", "de_CH"}, "de_CH", "Audioschnittstelle"},
        {{"en_GB", "de"}, "", "Audio Interface"},
        {{"fr_FR"}, "", "Audio Interface"},
        {{}, "", "Audio Interface"},
    };
    for (const Case& c : cases) {
        wxVector<wxString> languages;
        std::string named;
        for (const char* language : c.languages) {
            languages.push_back(language);
            named += std::string(language) + " ";
        }
        SCOPED_TRACE(named);
        qelguitest::WxLogCapture log;
        wxTranslations translations;
        EXPECT_EQ(wxString(c.chosen),
                  qelLoadTranslation(translations, languages, wxString::FromAscii(QEL_CATALOGUE)));
        const wxString* shown = translations.GetTranslatedString(
            wxT("Audio Interface"), wxString::FromAscii(QEL_CATALOGUE));
        EXPECT_EQ(wxString::FromUTF8(c.interfaceLabel),
                  shown != nullptr ? *shown : wxString(wxT("Audio Interface")));
        EXPECT_TRUE(log.messages().empty()) << "a missing catalogue is no error: " << log.all();
    }
}

// The German catalogue as the build compiles it, for this process.
class GermanPanel : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        wxFileTranslationsLoader::AddCatalogLookupPathPrefix(binDir() + wxT("/locale"));
        auto* translations = new wxTranslations();
        translations->SetLanguage(wxT("de"));
        wxTranslations::Set(translations);
        ASSERT_TRUE(translations->AddCatalog(wxT("qelvane"))) << "the German catalogue is built";
    }
    void TearDown() override {
        wxTranslations::Set(nullptr);
        PanelTest::TearDown();
    }
};

TEST_F(GermanPanel, SpeaksGermanKeepsTheLogEnglishAndStillFits) {
    OpenAsioPanel* panel = asio();
    const std::pair<wxWindow*, const char*> shownTexts[] = {
        {panel->m_interfaceLabel, "Audioschnittstelle"},
        {panel->m_formatLabel, "Audioformat"},
        {panel->m_latencyLabel, "Lirva-Latenz"},
        {panel->m_advancedButton, "Erweitert"},
    };
    for (const auto& [window, text] : shownTexts) {
        EXPECT_EQ(wxString::FromUTF8(text), window->GetLabel());
    }
    EXPECT_EQ(wxT("Einstellungen"), panel->m_notebook->GetPageText(0));
    EXPECT_EQ(wxString::FromUTF8("\u00dcber"), panel->m_notebook->GetPageText(1));
    EXPECT_EQ(wxT("Abtastrate"), qelAccessibleName(panel->m_sampleRateChoice));
    EXPECT_EQ(wxT("Soundkarte: unbekannt"), qelAccessibleName(panel->m_powerButton));
    // The longer words still fit the window's 595 pixels.
    EXPECT_LE(panel->GetSizer()->CalcMin().GetWidth(), 595);
    panel->m_settingsPage->Layout();
    for (wxWindow* control : {static_cast<wxWindow*>(panel->m_interfaceLabel),
                              static_cast<wxWindow*>(panel->m_latencyLabel),
                              static_cast<wxWindow*>(panel->m_latencyChoice)}) {
        EXPECT_LE(control->GetRect().GetRight(), 595) << control->GetLabel();
    }

    // A box in German; the log keeps the English, which is a diagnostic.
    startUp();
    panel->setClient(m_client.get());
    kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_INFO);
    kes_log_set_timestamp(m_env->log, KES_LOG_STDERR, false);
    LogCapture log(m_env->log);
    BoxRecorder boxes;
    choose(panel->m_latencyChoice, "5 ms");
    ASSERT_EQ(1u, boxes.boxes().size());
    EXPECT_EQ("Warnung", boxes.boxes()[0].caption);
    EXPECT_EQ(0u, boxes.boxes()[0].text.rfind("Sie haben die Latenzeinstellung", 0));
    EXPECT_NE(std::string::npos,
              log.text().find(std::string("Info Message box \"Warning\": ") + k_latencyWarning))
        << log.text();
}

// ---- buttons, help and the keyboard ------------------------------------------------------

TEST_F(PanelTest, HelpOpensTheUserGuideInTheBrowser) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    EXPECT_NE(&fakeLauncher, qelSetBrowserLauncher(&fakeLauncher));
    click(panel->m_helpButton);
    click(panel->m_helpButton);
    const wxString url = wxT("http://") QEL_HELP_HOST wxT("/GA/qel/userguide/webhelp/");
    EXPECT_EQ((std::vector<std::pair<wxString, int>>{{url, 0}, {url, 0}}), g_launched);
    EXPECT_EQ(url, qelUserGuideUrl());
    EXPECT_EQ(&fakeLauncher, qelSetBrowserLauncher(nullptr));
    EXPECT_NE(&fakeLauncher, qelSetBrowserLauncher(nullptr)) << "null restores the default";

    EXPECT_EQ(2, m_passedOn);
    EXPECT_TRUE(m_manager.idle());
}

TEST_F(PanelTest, EveryControlIsReachableFromTheKeyboard) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    EXPECT_FALSE(panel->m_spacerPanel->CanAcceptFocusFromKeyboard()) << "the empty square";
    BoxRecorder boxes;
    qelSetBrowserLauncher(&fakeLauncher);

    // The windows given the focus. The toolkit reports none for its choices
    // on this platform; that the tab key reached one shows when a key then
    // changes it.
    std::vector<std::string> reached;
    const std::pair<wxWindow*, const char*> watched[] = {
        {panel->m_powerButton, "power"},       {panel->m_platformButton, "platform"},
        {panel->m_advancedButton, "advanced"}, {panel->m_helpButton, "help"},
        {panel->m_notebook, "notebook"},       {panel->m_spacerPanel, "spacer"}};
    for (const auto& window : watched) {
        const std::string name = window.second;
        window.first->Bind(wxEVT_SET_FOCUS, [&reached, name](wxFocusEvent& event) {
            reached.push_back(name);
            event.Skip();
        });
    }
    // Focus and keys come from the display, which only the toolkit's loop
    // reads; keys are handled in the order they are pressed.
    const auto yieldUntil = [](const std::function<bool()>& done) {
        const wxLongLong end = wxGetLocalTimeMillis() + 5000;
        while (!done() && wxGetLocalTimeMillis() < end) {
            wxYield();
            wxMilliSleep(1);
        }
        return done();
    };
    const auto focused = [&reached](const char* name) {
        return [&reached, name] { return !reached.empty() && reached.back() == name; };
    };
    m_frame->Show();
    panel->m_powerButton->SetFocus();
    ASSERT_TRUE(yieldUntil(focused("power"))) << "the display gives no focus";

    wxUIActionSimulator keyboard;
    keyboard.Char(' ');
    ASSERT_TRUE(yieldUntil([this] { return m_passedOn == 1; })) << "space presses";
    qel_config sent{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(0u, sent.want_to_run);

    const std::tuple<wxChoice*, int, const char*> choices[] = {
        {panel->m_interfaceChoice, WXK_HOME, "WDM"},
        {panel->m_sampleRateChoice, WXK_HOME, "44100 Hz"},
        {panel->m_encodingChoice, WXK_HOME, "16 bit"},
        {panel->m_latencyChoice, WXK_HOME, "1 ms"},
        {panel->m_networkChoice, WXK_END, "wlan0"}};
    int events = m_passedOn;
    for (const auto& [choice, key, becomes] : choices) {
        keyboard.Char(WXK_TAB);
        keyboard.Char(key);
        ++events;
        ASSERT_TRUE(yieldUntil([&] { return m_passedOn == events; })) << becomes;
        EXPECT_EQ(wxString::FromUTF8(becomes), choice->GetStringSelection());
    }
    for (const char* next : {"platform", "advanced", "help"}) {
        keyboard.Char(WXK_TAB);
        ASSERT_TRUE(yieldUntil(focused(next))) << next;
    }
    keyboard.Char(' ');
    ASSERT_TRUE(yieldUntil([] { return g_launched.size() == 1; }));
    for (const char* next : {"notebook", "power"}) {
        keyboard.Char(WXK_TAB);
        ASSERT_TRUE(yieldUntil(focused(next))) << next;
    }
    EXPECT_EQ(0, std::count(reached.begin(), reached.end(), "spacer"));
    EXPECT_EQ(3u, boxes.boxes().size()) << "two reboot warnings and the latency warning";
    m_frame->Hide();
}

// ---- the ASIO variant -----------------------------------------------------------------------

TEST_F(PanelTest, AsioModeFollowsTheAudioInterfaceInForce) {
    OpenAsioPanel* panel = asio();
    startUp(); // WDM
    panel->setClient(m_client.get());
    EXPECT_EQ("WDM,ASIO,=WDM", shown(panel->m_interfaceChoice));
    EXPECT_EQ("44100 Hz,48000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));
    EXPECT_EQ(2u, m_client->getOptions()->getSampleRates().GetCount()) << "in the options too";
    EXPECT_FALSE(panel->m_platformButton->IsEnabled());
    EXPECT_FALSE(panel->m_advancedButton->IsEnabled());
    EXPECT_EQ(wxT(""), panel->m_statusText->GetLabelText());

    ASSERT_NO_FATAL_FAILURE(sendState(asioState()));
    EXPECT_EQ("WDM,ASIO,=ASIO", shown(panel->m_interfaceChoice));
    EXPECT_EQ("44100 Hz,48000 Hz,96000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));
    EXPECT_TRUE(panel->m_platformButton->IsEnabled());
    EXPECT_TRUE(panel->m_advancedButton->IsEnabled());
    EXPECT_EQ(wxT("ASIO Application: Disconnected"), panel->m_statusText->GetLabelText());

    qel_options reordered = sampleOptions(); // 96000 Hz first: no second entry
    std::swap(reordered.sample_rates.entries[0], reordered.sample_rates.entries[2]);
    ASSERT_NO_FATAL_FAILURE(sendOptions(reordered));
    EXPECT_EQ("96000 Hz,48000 Hz,44100 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));

    ASSERT_NO_FATAL_FAILURE(sendState(asioState(QEL_CONFIG_LOCK_ASIO_CLIENT)));
    EXPECT_EQ(wxT("ASIO Application: Connected"), panel->m_statusText->GetLabelText());
    EXPECT_FALSE(panel->m_interfaceChoice->IsEnabled());
    EXPECT_FALSE(panel->m_platformButton->IsEnabled());
    ASSERT_NO_FATAL_FAILURE(sendState(asioState(0x0001)));
    EXPECT_EQ(wxT("ASIO Application: Disconnected"), panel->m_statusText->GetLabelText());

    qel_state unknown = asioState();
    unknown.config.audio_interface = 2; // an empty text: not ASIO, no item
    qel_options without = sampleOptions();
    without.sample_rates.count = 2;
    without.sample_rates.entries[2] = {0, 0};
    ASSERT_NO_FATAL_FAILURE(sendOptions(without));
    EXPECT_EQ("44100 Hz,48000 Hz,96000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice))
        << "appended in ASIO mode";
    ASSERT_NO_FATAL_FAILURE(sendState(unknown));
    EXPECT_EQ("WDM,ASIO,=ASIO", shown(panel->m_interfaceChoice)) << "the selection stays";
    EXPECT_EQ("44100 Hz,48000 Hz,=48000 Hz", shown(panel->m_sampleRateChoice));
    EXPECT_FALSE(panel->m_platformButton->IsEnabled());
    EXPECT_EQ(wxT(""), panel->m_statusText->GetLabelText());

    choose(panel->m_interfaceChoice, "WDM"); // nothing in force to differ from: no box
    qel_config sent{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(QEL_AUDIO_INTERFACE_WDM, sent.audio_interface);
}

TEST_F(PanelTest, AsioWithoutStateSelectsNothing) {
    OpenAsioPanel* panel = asio();
    ASSERT_NO_FATAL_FAILURE(connectWithoutState());
    ASSERT_NO_FATAL_FAILURE(sendOptions(sampleOptions()));
    panel->setClient(m_client.get());
    EXPECT_EQ("WDM,ASIO,=", shown(panel->m_interfaceChoice));
    EXPECT_TRUE(panel->m_interfaceChoice->IsEnabled());
    EXPECT_FALSE(panel->m_platformButton->IsEnabled());
    EXPECT_TRUE(panel->m_latencyChoice->IsEnabled());
    EXPECT_EQ("44100 Hz,48000 Hz,=", shown(panel->m_sampleRateChoice));
    EXPECT_EQ(wxT("No Address"), panel->m_ipText->GetLabelText());

    panel->m_latencyChoice->SetSelection(1); // what the user picked goes too
    panel->m_interfaceChoice->SetSelection(1);
    panel->setOptionsState(m_client->getOptions(), nullptr);
    EXPECT_EQ("1 ms,2 ms,5 ms,=", shown(panel->m_latencyChoice));
    EXPECT_EQ("WDM,ASIO,=", shown(panel->m_interfaceChoice));
}

TEST_F(PanelTest, ChangingTheAudioInterfaceSendsItAndAsksForAReboot) {
    OpenAsioPanel* panel = asio();
    startUp(); // WDM
    panel->setClient(m_client.get());
    BoxRecorder boxes;
    choose(panel->m_interfaceChoice, "ASIO");
    qel_config sent{};
    Datagram request;
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent, &request));
    qel_config expected = sampleConfig();
    expected.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    EXPECT_EQ(0, std::memcmp(&expected, &sent, sizeof sent)) << "the rest as in force";
    EXPECT_EQ(std::vector<Box>{warning(k_rebootWarning)}, boxes.boxes());

    ASSERT_NO_FATAL_FAILURE(sendNews()); // still WDM until the manager says so
    EXPECT_EQ("WDM,ASIO,=WDM", shown(panel->m_interfaceChoice));
    EXPECT_FALSE(panel->m_platformButton->IsEnabled());
    ASSERT_NO_FATAL_FAILURE(answer(request, asioState()));
    EXPECT_EQ("WDM,ASIO,=ASIO", shown(panel->m_interfaceChoice));
    EXPECT_TRUE(panel->m_platformButton->IsEnabled());

    choose(panel->m_sampleRateChoice, "44100 Hz"); // the same interface: no reboot
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(44100u, sent.sample_rate_hz);
    EXPECT_EQ(1u, boxes.boxes().size());
}

TEST_F(PanelTest, TheChannelWarningComesBeforeTheRebootWarning) {
    OpenAsioPanel* panel = asio();
    qel_state state = asioState();
    state.config.channels = 64;
    state.config.sample_rate_hz = 96000;
    startUp(state);
    panel->setClient(m_client.get());
    BoxRecorder boxes;
    choose(panel->m_interfaceChoice, "WDM");
    qel_config sent{};
    ASSERT_NO_FATAL_FAILURE(receiveConfig(&sent));
    EXPECT_EQ(32, sent.channels);
    EXPECT_EQ(QEL_AUDIO_INTERFACE_WDM, sent.audio_interface);
    EXPECT_EQ((std::vector<Box>{warning("Channel count reduced to 32 due to sample rate 96000 Hz"),
                                warning(k_rebootWarning)}),
              boxes.boxes());
}

// ---- the advanced options and ASIO options dialogs --------------------------------------

struct OpenAdvanced : QelAdvancedDialog {
    using QelAdvancedDialog::m_channelsLabel;
    using QelAdvancedDialog::m_channelsSlider;
    using QelAdvancedDialog::m_channelsText;
    using QelAdvancedDialog::m_okButton;
    using QelAdvancedDialog::QelAdvancedDialog;
};

struct OpenAsioDialog : QelAsioDialog {
    using QelAsioDialog::m_asioBufferSizeChoice;
    using QelAsioDialog::m_asioEncodingChoice;
    using QelAsioDialog::m_asioLatencyChoice;
    using QelAsioDialog::m_okButton;
    using QelAsioDialog::QelAsioDialog;
};

// The user drags the slider to `value`.
void scrollTo(wxSlider* slider, int value) {
    slider->SetValue(value);
    wxScrollEvent event(wxEVT_SCROLL_THUMBTRACK, slider->GetId(), value, wxHORIZONTAL);
    event.SetEventObject(slider);
    slider->GetEventHandler()->ProcessEvent(event);
}

// "min..max@value label"
std::string slider(const OpenAdvanced* dialog) {
    const wxSlider* s = dialog->m_channelsSlider;
    return std::to_string(s->GetMin()) + ".." + std::to_string(s->GetMax()) + "@" +
           std::to_string(s->GetValue()) + " " + dialog->m_channelsText->GetLabel().utf8_string();
}

class DialogTest : public PanelTest {
protected:
    template <typename D> D* open() {
        D* dialog = new D(m_frame);
        dialog->m_factory = &m_factory;
        dialog->setClient(m_client.get());
        return dialog;
    }
    qel_state at96k(uint16_t channels) {
        qel_state state = sampleState();
        state.config.sample_rate_hz = 96000; // allows up to 32 channels
        state.config.channels = channels;
        return state;
    }
    void expectNoChoice() {
        OpenAdvanced* dialog = open<OpenAdvanced>();
        EXPECT_EQ("0..1@0 ?", slider(dialog));
        scrollTo(dialog->m_channelsSlider, 1);
        EXPECT_EQ("0..1@1 ?", slider(dialog));
        click(dialog->m_okButton);
        EXPECT_TRUE(m_manager.idle());
        delete dialog;
    }
    // What the manager received must be the configuration `inForce` holds
    // with `change` applied; the manager takes it over and answers with the
    // new state, which is returned.
    qel_state expectSent(const qel_state& inForce, const std::function<void(qel_config&)>& change) {
        qel_state next = inForce;
        change(next.config);
        qel_config sent{};
        Datagram request;
        receiveConfig(&sent, &request);
        EXPECT_EQ(0, std::memcmp(&next.config, &sent, sizeof sent));
        answer(request, next);
        return next;
    }
    // Counts the events the dialog's controls let pass on to the dialog.
    void countPassedOn(wxDialog* dialog) {
        for (const auto* type : {&wxEVT_BUTTON, &wxEVT_CHOICE}) {
            dialog->Bind(*type, [this](wxCommandEvent& event) {
                ++m_dialogPassedOn;
                event.Skip();
            });
        }
    }
    int m_dialogPassedOn = 0;
};

// From the keyboard: Enter presses OK, the default button; Escape closes
// without sending what the dialog holds (with OK the only button, the
// toolkit would otherwise take Escape for OK). A screen reader reads the
// slider and the choices by their labels.
TEST_F(DialogTest, EscapeClosesWithoutSendingAndEveryControlIsNamed) {
    startUp();
    OpenAdvanced* advanced = open<OpenAdvanced>();
    OpenAsioDialog* asio = open<OpenAsioDialog>();
    EXPECT_EQ(wxT("Channels"), qelAccessibleName(advanced->m_channelsSlider));
    EXPECT_TRUE(qelAccessibleLabelled(advanced->m_channelsSlider, advanced->m_channelsLabel));
    struct Named {
        wxChoice* choice;
        const char* name;
    };
    for (const Named n : {Named{asio->m_asioBufferSizeChoice, "Buffer Size"},
                          Named{asio->m_asioEncodingChoice, "Encoding"},
                          Named{asio->m_asioLatencyChoice, "Asio Latency"}}) {
        EXPECT_EQ(wxString::FromUTF8(n.name), qelAccessibleName(n.choice));
    }
    for (wxDialog* dialog : {static_cast<wxDialog*>(advanced), static_cast<wxDialog*>(asio)}) {
        SCOPED_TRACE(dialog->GetTitle().utf8_string());
        EXPECT_EQ(wxWindow::FindWindowById(wxID_OK, dialog), dialog->GetDefaultItem());
        dialog->Show();
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        escape.SetEventObject(dialog);
        dialog->ProcessWindowEvent(escape);
        EXPECT_FALSE(dialog->IsShown());
    }
    scrollTo(advanced->m_channelsSlider, 4); // a change OK would send
    advanced->Show();
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(advanced);
    advanced->ProcessWindowEvent(escape);
    EXPECT_FALSE(advanced->IsShown());
    EXPECT_TRUE(m_manager.idle()) << "Escape sends nothing";
    delete advanced;
    delete asio;
}

TEST_F(DialogTest, AdvancedLayout) {
    std::unique_ptr<OpenAdvanced> dialog(new OpenAdvanced(m_frame));
    EXPECT_EQ(wxT("QEL: Advanced Options"), dialog->GetTitle());
    EXPECT_EQ(wxSize(300, 140), dialog->GetMinSize());
    EXPECT_EQ(0, dialog->GetWindowStyleFlag() & (wxCLOSE_BOX | wxRESIZE_BORDER | wxSYSTEM_MENU));
    EXPECT_EQ(wxT("dialog"), dialog->GetName());
    EXPECT_EQ(wxT("Channels"), dialog->m_channelsLabel->GetLabel());
    EXPECT_EQ(wxT("staticText"), dialog->m_channelsText->GetName());
    EXPECT_EQ(wxT("slider"), dialog->m_channelsSlider->GetName());
    EXPECT_EQ("0..100@50 8 x 8", slider(dialog.get()));
    EXPECT_EQ(wxID_OK, dialog->m_okButton->GetId());
    EXPECT_EQ(wxT("button"), dialog->m_okButton->GetName());
    EXPECT_EQ(nullptr, wxWindow::FindWindowById(wxID_CANCEL, dialog.get())) << "no Cancel";
}

TEST_F(DialogTest, AdvancedOffersTheCountsTheRateAllowsAndOkSendsTheChoice) {
    const qel_state inForce = at96k(16);
    startUp(inForce);
    OpenAdvanced* dialog = open<OpenAdvanced>();
    EXPECT_EQ("0..4@3 16 x 16", slider(dialog));
    scrollTo(dialog->m_channelsSlider, 4);
    EXPECT_EQ("0..4@4 32 x 32", slider(dialog));
    EXPECT_TRUE(m_manager.idle()) << "only OK sends";
    dialog->Show();
    countPassedOn(dialog);
    click(dialog->m_okButton);
    EXPECT_FALSE(dialog->IsShown());
    EXPECT_NO_FATAL_FAILURE(expectSent(inForce, [](qel_config& c) { c.channels = 32; }));
    EXPECT_EQ(1, m_dialogPassedOn);
    delete dialog;
}

// Without options, state or an offered rate the slider offers position 0
// only (the toolkit shows 0 ... 1), every position says "?", and OK sends
// nothing.
TEST_F(DialogTest, AdvancedRateNotOfferedShowsAQuestionMark) {
    qel_state odd = sampleState();
    odd.config.sample_rate_hz = 22050;
    startUp(odd);
    expectNoChoice();
}

TEST_F(DialogTest, AdvancedWithoutOptionsOrStateShowsAQuestionMark) {
    ASSERT_NO_FATAL_FAILURE(connectWithoutState());
    expectNoChoice();
    ASSERT_NO_FATAL_FAILURE(sendOptions(sampleOptions()));
    expectNoChoice();
}

TEST_F(DialogTest, AdvancedCountNotOfferedIsShownButSentOnlyOnceTheUserChooses) {
    const qel_state inForce = at96k(12);
    startUp(inForce);
    OpenAdvanced* dialog = open<OpenAdvanced>();
    EXPECT_EQ("12 x 12", dialog->m_channelsText->GetLabel().utf8_string());
    EXPECT_EQ(4, dialog->m_channelsSlider->GetMax());
    click(dialog->m_okButton);
    EXPECT_TRUE(m_manager.idle()) << "the slider stands on no offered count";
    scrollTo(dialog->m_channelsSlider, 2);
    EXPECT_EQ("0..4@2 8 x 8", slider(dialog));
    click(dialog->m_okButton);
    EXPECT_NO_FATAL_FAILURE(expectSent(inForce, [](qel_config& c) { c.channels = 8; }));
    delete dialog;
}

TEST_F(DialogTest, AdvancedSingleUsableCountStaysWithinTheRate) {
    qel_options one = sampleOptions();
    one.sample_rates.entries[2].max_channels = 2; // 96000 Hz: 2 channels only
    const qel_state inForce = at96k(2);
    startUp(inForce);
    ASSERT_NO_FATAL_FAILURE(sendOptions(one));
    OpenAdvanced* dialog = open<OpenAdvanced>();
    EXPECT_EQ("0..1@0 2 x 2", slider(dialog)) << "the toolkit widens 0..0";
    scrollTo(dialog->m_channelsSlider, 1);
    EXPECT_EQ("0..1@0 2 x 2", slider(dialog)) << "4 channels are beyond the rate";
    click(dialog->m_okButton);
    EXPECT_NO_FATAL_FAILURE(expectSent(inForce, [](qel_config&) {}));
    delete dialog;
}

TEST_F(DialogTest, AdvancedFollowsOptionsButNotState) {
    startUp(at96k(16));
    OpenAdvanced* dialog = open<OpenAdvanced>();
    scrollTo(dialog->m_channelsSlider, 1);
    ASSERT_NO_FATAL_FAILURE(sendState(at96k(8)));
    EXPECT_EQ("0..4@1 4 x 4", slider(dialog)) << "a state alone changes nothing";

    qel_options wider = sampleOptions();
    wider.sample_rates.entries[2].max_channels = 64;
    ASSERT_NO_FATAL_FAILURE(sendOptions(wider));
    EXPECT_EQ("0..5@2 8 x 8", slider(dialog)) << "recomputed from the state in force";
    delete dialog;
}

TEST_F(DialogTest, AsioLayout) {
    std::unique_ptr<QelAsioDialog> dialog(new QelAsioDialog(m_frame));
    EXPECT_EQ(wxT("QEL: ASIO Options"), dialog->GetTitle());
    EXPECT_EQ(0, dialog->GetWindowStyleFlag() & (wxCLOSE_BOX | wxRESIZE_BORDER | wxSYSTEM_MENU));
    std::vector<std::string> texts;
    for (wxWindow* child : dialog->GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child)) {
            texts.push_back(text->GetLabel().utf8_string());
        }
    }
    EXPECT_EQ((std::vector<std::string>{"Buffer Size:", "samples", "Encoding:", "bits / sample",
                                        "Asio Latency:", "ms"}),
              texts);
    EXPECT_NE(nullptr, wxWindow::FindWindowById(wxID_OK, dialog.get()));
    EXPECT_EQ(nullptr, wxWindow::FindWindowById(wxID_CANCEL, dialog.get()));
}

TEST_F(DialogTest, AsioSendsEachChoiceAtOnceAndOkOnlyCloses) {
    const qel_state inForce = asioState();
    startUp(inForce);
    OpenAsioDialog* dialog = open<OpenAsioDialog>();
    EXPECT_EQ("64,128,256,=128", shown(dialog->m_asioBufferSizeChoice));
    EXPECT_EQ("16,24,=24", shown(dialog->m_asioEncodingChoice));
    EXPECT_EQ("1,2,=2", shown(dialog->m_asioLatencyChoice));
    dialog->Show();
    click(dialog->m_okButton);
    EXPECT_FALSE(dialog->IsShown());
    EXPECT_TRUE(m_manager.idle()) << "OK after no change sends nothing";

    dialog->Show();
    countPassedOn(dialog);
    choose(dialog->m_asioBufferSizeChoice, "256");
    qel_state now = expectSent(inForce, [](qel_config& c) { c.asio_buffer_size = 256; });
    EXPECT_TRUE(dialog->IsShown());
    choose(dialog->m_asioEncodingChoice, "16");
    now = expectSent(now, [](qel_config& c) { c.asio_encoding = 16; });
    choose(dialog->m_asioLatencyChoice, "1");
    now = expectSent(now, [](qel_config& c) { c.asio_latency_us = 1000; });
    EXPECT_EQ("64,128,256,=256", shown(dialog->m_asioBufferSizeChoice));
    EXPECT_EQ(3, m_dialogPassedOn);
    click(dialog->m_okButton);
    EXPECT_TRUE(m_manager.idle());
    delete dialog;
}

TEST_F(DialogTest, AsioFollowsStateAndOptionsButNotCompletedRequests) {
    startUp(asioState());
    OpenAsioDialog* dialog = open<OpenAsioDialog>();
    dialog->m_asioBufferSizeChoice->SetSelection(0);
    dialog->onClientEvent(QEL_CLIENT_EVENT_REQUEST_DONE);
    EXPECT_EQ("64,128,256,=64", shown(dialog->m_asioBufferSizeChoice));

    qel_state moved = asioState();
    moved.config.asio_buffer_size = 256;
    ASSERT_NO_FATAL_FAILURE(sendState(moved));
    EXPECT_EQ("64,128,256,=256", shown(dialog->m_asioBufferSizeChoice));
    EXPECT_EQ("1,2,=2", shown(dialog->m_asioLatencyChoice));

    qel_options fewer = sampleOptions();
    fewer.asio_buffer_sizes.count = 2; // 256 is gone
    ASSERT_NO_FATAL_FAILURE(sendOptions(fewer));
    EXPECT_EQ("64,128,=", shown(dialog->m_asioBufferSizeChoice));
    choose(dialog->m_asioLatencyChoice, "1");
    EXPECT_TRUE(m_manager.idle()) << "no buffer size selected: invalid, dropped";
    delete dialog;
}

TEST_F(DialogTest, AsioWithoutStateOrOptionsSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(connectWithoutState());
    OpenAsioDialog* dialog = open<OpenAsioDialog>();
    EXPECT_EQ("=", shown(dialog->m_asioBufferSizeChoice));
    ASSERT_NO_FATAL_FAILURE(sendOptions(sampleOptions()));
    EXPECT_EQ("64,128,256,=", shown(dialog->m_asioBufferSizeChoice));
    choose(dialog->m_asioBufferSizeChoice, "64");
    EXPECT_TRUE(m_manager.idle());
    delete dialog;
}

TEST_F(DialogTest, EachButtonOpensItsDialogModallyAndItsListenerGoesWithIt) {
    OpenAsioPanel* panel = asio();
    startUp(asioState());
    panel->setClient(m_client.get());
    const std::vector<QelClientListener*> before = m_client->getListeners();
    struct Case {
        wxControl* button;
        const char* title;
        bool (*isIt)(wxDialog*);
    };
    const Case cases[] = {
        {panel->m_advancedButton, "QEL: Advanced Options",
         [](wxDialog* d) { return dynamic_cast<QelAdvancedDialog*>(d) != nullptr; }},
        {panel->m_platformButton, "QEL: ASIO Options",
         [](wxDialog* d) { return dynamic_cast<QelAsioDialog*>(d) != nullptr; }},
    };
    using qelguitest::DialogHook;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        // The dialog is made, listening and filled when its modal run would
        // begin; OK, clicked there, hides it, and the run ends.
        int okPassedOn = 0;
        DialogHook hook([&](wxDialog* dialog) {
            EXPECT_TRUE(c.isIt(dialog));
            EXPECT_EQ(wxString::FromUTF8(c.title), dialog->GetTitle());
            EXPECT_EQ(panel, dialog->GetParent());
            std::vector<QelClientListener*> listening = before;
            listening.push_back(dynamic_cast<QelClientListener*>(dialog));
            EXPECT_EQ(listening, m_client->getListeners());
            dialog->Show();
            dialog->Bind(wxEVT_BUTTON, [&](wxCommandEvent& event) {
                ++okPassedOn;
                event.Skip();
            });
            click(static_cast<wxControl*>(wxWindow::FindWindowById(wxID_OK, dialog)));
            EXPECT_FALSE(dialog->IsShown());
            return wxID_OK;
        });
        const int passed = m_passedOn;
        click(c.button);
        EXPECT_EQ(1, hook.entered);
        EXPECT_EQ(1, okPassedOn);
        EXPECT_EQ(before, m_client->getListeners());
        EXPECT_EQ(passed + 1, m_passedOn);
    }
    // The advanced OK sent the configuration in force (16 channels); the ASIO
    // OK sent nothing.
    EXPECT_NO_FATAL_FAILURE(expectSent(asioState(), [](qel_config&) {}));
    EXPECT_TRUE(m_manager.idle());
}

} // namespace
} // namespace qeltest

// ---- fillChoice ---------------------------------------------------------------------------

namespace {

// A choice that counts how often its items are removed and added.
class CountingChoice : public wxChoice {
public:
    explicit CountingChoice(wxWindow* parent) : wxChoice(parent, wxID_ANY) {}
    int rebuilds = 0;

protected:
    void DoClear() override {
        ++rebuilds;
        wxChoice::DoClear();
    }
};

wxArrayString list(std::initializer_list<const char*> texts) {
    wxArrayString out;
    for (const char* text : texts) {
        out.Add(wxString::FromUTF8(text));
    }
    return out;
}

TEST(FillChoice, RefillsOnlyChangedListsAndKeepsTheSelectedText) {
    wxFrame* frame = new wxFrame(nullptr, wxID_ANY, wxT("fillChoice"));
    CountingChoice* choice = new CountingChoice(frame);
    const wxArrayString abc = list({"a", "b", "c"});
    fillChoice(choice, &abc);
    EXPECT_EQ(3u, choice->GetCount());
    choice->SetSelection(1);
    choice->rebuilds = 0;

    fillChoice(choice, &abc); // unchanged: an open choice keeps its items
    EXPECT_EQ(0, choice->rebuilds);
    EXPECT_EQ(wxT("b"), choice->GetStringSelection());

    const wxArrayString longer = list({"c", "b", "d", "e"});
    fillChoice(choice, &longer);
    EXPECT_EQ(1, choice->rebuilds);
    EXPECT_EQ(4u, choice->GetCount());
    EXPECT_EQ(wxT("c"), choice->GetString(0));
    EXPECT_EQ(1, choice->GetSelection()) << "\"b\", at its new place";

    const wxArrayString upper = list({"c", "B", "d", "e"}); // case counts
    fillChoice(choice, &upper);
    EXPECT_EQ(2, choice->rebuilds);
    EXPECT_EQ(wxNOT_FOUND, choice->GetSelection());

    choice->SetSelection(0);
    fillChoice(choice, nullptr);
    EXPECT_EQ(0u, choice->GetCount());
    EXPECT_EQ(wxNOT_FOUND, choice->GetSelection());
    delete frame;
}

} // namespace
