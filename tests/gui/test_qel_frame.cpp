// The main window: its fixed size around the panel, the client handed to the
// panel, the client thread's events, the DISCONNECT on closing, and keyboard
// traversal of the panel's controls.
#include "QelAsioFactory.h"
#include "QelAsioPanel.h"
#include "QelClientThread.h"
#include "QelFrame.h"
#include "QelImageManager.h"
#include "QelMessageBox.h"

#include "box_support.h"
#include "gui_test_support.h"
#include "wx_test_main.h"

#include "qel_codec.h"
#include "tesk2_client.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/time.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using qeltest::pumpUntil;
using qeltest::RecordingListener;

class MainWindow : public qeltest::InterfaceTest {
protected:
    void SetUp() override {
        InterfaceTest::SetUp();
        qelguitest::registerImageHandlers();
        wxArrayString paths;
        paths.Add(qelguitest::binDir() + wxT("/"));
        paths.Add(qelguitest::binDir() + wxT("/res/"));
        m_images = std::make_unique<QelImageManager>(&paths);
    }

    void TearDown() override {
        // The client thread posts to the frame: it ends before the frame.
        m_client->stop();
        if (m_frame != nullptr) {
            m_frame->Destroy();
            m_frame = nullptr;
        }
        wxTheApp->ProcessIdle();
        InterfaceTest::TearDown();
    }

    QelFrame* makeFrame() {
        m_frame = new QelFrame(&m_asioFactory, m_images.get());
        return m_frame;
    }

    // The panel's choices, in creation order: interface, sample rate,
    // encoding, latency, network.
    static std::vector<wxChoice*> choices(wxWindow* top) {
        std::vector<wxChoice*> found;
        collect(top, found);
        return found;
    }
    template <typename Control>
    static void collect(wxWindow* window, std::vector<Control*>& found) {
        for (wxWindow* child : window->GetChildren()) {
            if (Control* control = dynamic_cast<Control*>(child)) {
                found.push_back(control);
            }
            collect(child, found);
        }
    }

    QelPanel* panel() {
        return dynamic_cast<QelPanel*>(wxWindow::FindWindowByName(wxT("panel"), m_frame));
    }

    // Closes the frame as the user does and lets the toolkit delete it.
    void closeFrame() {
        ASSERT_TRUE(m_frame->Close());
        wxTheApp->ProcessIdle();
        m_frame = nullptr;
    }

    // The layout opens some pictures relative to the program's directory.
    qelguitest::CurrentDirectory m_directory{qelguitest::binDir()};
    std::unique_ptr<QelImageManager> m_images;
    QelAsioFactory m_asioFactory; // the application's: it makes the panel
    QelFrame* m_frame = nullptr;
};

TEST_F(MainWindow, HoldsTheFactorysPanelAsItsOnlyChild) {
    QelFrame* frame = makeFrame();
    EXPECT_EQ(wxT("Qelvane"), frame->GetTitle());
    EXPECT_EQ(wxT("frame"), frame->GetName());
    ASSERT_EQ(1u, frame->GetChildren().size());
    QelPanel* thePanel = panel();
    ASSERT_NE(nullptr, thePanel);
    EXPECT_NE(nullptr, dynamic_cast<QelAsioPanel*>(thePanel)) << "the ASIO family's panel";
    EXPECT_EQ(thePanel, frame->GetChildren().front());
    wxSizer* sizer = frame->GetSizer();
    ASSERT_NE(nullptr, sizer);
    ASSERT_EQ(1u, sizer->GetItemCount());
    wxSizerItem* item = sizer->GetItem(static_cast<size_t>(0));
    EXPECT_EQ(thePanel, item->GetWindow());
    EXPECT_EQ(1, item->GetProportion());
    EXPECT_TRUE(item->GetFlag() & wxEXPAND);
    EXPECT_EQ(0, item->GetBorder());
    EXPECT_EQ(frame->GetClientSize(), thePanel->GetSize()) << "the panel fills the frame";
}

TEST_F(MainWindow, HasAFixedWidthOf595AndRoomForThePanel) {
    QelFrame* frame = makeFrame();
    EXPECT_EQ(595, frame->GetSize().GetWidth());
    EXPECT_GE(frame->GetClientSize().GetHeight(), panel()->GetSizer()->CalcMin().GetHeight());
    EXPECT_GE(frame->GetClientSize().GetHeight(), panel()->GetEffectiveMinSize().GetHeight());
    EXPECT_GE(frame->GetSize().GetHeight(), 400);
}

TEST_F(MainWindow, CanOnlyBeMinimisedOrClosed) {
    QelFrame* frame = makeFrame();
    const long style = frame->GetWindowStyleFlag();
    EXPECT_FALSE(style & wxRESIZE_BORDER);
    EXPECT_FALSE(style & wxMAXIMIZE_BOX);
    EXPECT_TRUE(style & wxMINIMIZE_BOX);
    EXPECT_TRUE(style & wxCLOSE_BOX);
    EXPECT_TRUE(style & wxCAPTION);
    // The window manager is held to the size as well.
    EXPECT_EQ(frame->GetSize(), frame->GetMinSize());
    EXPECT_EQ(frame->GetSize(), frame->GetMaxSize());
}

TEST_F(MainWindow, KeepsItsSizeWhenAskedToResize) {
    QelFrame* frame = makeFrame();
    const wxSize size = frame->GetSize();
    frame->SetSize(wxSize(900, 700));
    EXPECT_EQ(size, frame->GetSize());
    frame->SetSize(wxSize(300, 200));
    EXPECT_EQ(size, frame->GetSize());
}

TEST_F(MainWindow, ThePanelKeepsItsTabTraversalStyle) {
    makeFrame();
    EXPECT_TRUE(panel()->HasFlag(wxTAB_TRAVERSAL));
}

TEST_F(MainWindow, HandsTheClientToThePanel) {
    startUp();
    QelFrame* frame = makeFrame();
    std::vector<wxChoice*> lists = choices(frame);
    ASSERT_EQ(5u, lists.size());
    wxChoice* network = lists[4];
    EXPECT_EQ(1u, network->GetCount()) << "the layout's placeholder";
    frame->setClient(m_client.get());
    // The panel shows what the client holds: both interfaces of the options.
    ASSERT_EQ(2u, network->GetCount());
    EXPECT_EQ(wxT("eth0"), network->GetString(0));
    EXPECT_EQ(wxT("wlan0"), network->GetString(1));
    // And it listens: the next options event offers one interface less.
    qel_options options = qeltest::sampleOptions();
    options.interfaces.count = 1;
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_OPTIONS,
                   qeltest::optionsBody(options));
    ASSERT_TRUE(qeltest::waitReadable(managerClient()->socket));
    ASSERT_EQ(KES_SUCCESS, tesk2_client_process(managerClient()->protocol));
    EXPECT_EQ(1u, network->GetCount());
}

// Runs the toolkit's own loop (the display's events reach it only so) until
// `done` holds or `timeoutMs` passed.
bool yieldUntil(const std::function<bool()>& done, int timeoutMs) {
    const wxLongLong end = wxGetLocalTimeMillis() + timeoutMs;
    while (!done()) {
        if (wxGetLocalTimeMillis() >= end) {
            return false;
        }
        wxYield();
        wxMilliSleep(1);
    }
    return true;
}

// The About page was measured before it was first shown, when its fonts
// were not applied yet: its bold title came out clipped. Shown, every text
// on it has the room its font needs.
TEST_F(MainWindow, TheAboutPageShowsItsTextsWhole) {
    startUp();
    QelFrame* frame = makeFrame();
    frame->setClient(m_client.get());
    frame->Show();
    auto* notebook = dynamic_cast<wxNotebook*>(wxWindow::FindWindowByName(wxT("notebook"), frame));
    ASSERT_NE(nullptr, notebook);
    notebook->SetSelection(1);
    wxWindow* about = notebook->GetPage(1);
    ASSERT_TRUE(yieldUntil([&] { return about->IsShownOnScreen(); }, 5000));
    int texts = 0;
    for (wxWindow* child : about->GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child)) {
            ++texts;
            const wxSize needed = text->GetTextExtent(text->GetLabel());
            EXPECT_GE(text->GetSize().GetWidth(), needed.GetWidth()) << text->GetLabel();
            EXPECT_GE(text->GetSize().GetHeight(), needed.GetHeight()) << text->GetLabel();
        }
    }
    EXPECT_EQ(3, texts) << "the title, the version's label and the version";
    frame->Hide();
}

TEST_F(MainWindow, AClientEventBeforeTheClientDoesNothing) {
    startUp();
    QelFrame* frame = makeFrame();
    RecordingListener listener(&m_log, "listener");
    m_client->addListener(&listener);
    // The manager has news (a slower link) and the thread asks for processing
    // before the frame has its client: the event is handled and ignored.
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE,
                   qeltest::stateBody(qeltest::stateWith(0, 100)));
    ASSERT_TRUE(qeltest::waitReadable(managerClient()->socket));
    m_client->requestProcessing(frame);
    qeltest::pumpEvents();
    EXPECT_TRUE(m_log.empty());
    EXPECT_TRUE(qeltest::waitReadable(managerClient()->socket, 0)) << "nothing was read";

    // Once the frame has the client, the next event processes it.
    frame->setClient(m_client.get());
    m_client->requestProcessing(frame);
    qeltest::pumpEvents();
    EXPECT_EQ(std::vector<std::string>{"listener:4"}, m_log);
    m_client->removeListener(&listener);
}

TEST_F(MainWindow, TheClientThreadsEventsReachTheClient) {
    startUp();
    QelFrame* frame = makeFrame();
    frame->setClient(m_client.get());
    RecordingListener listener(&m_log, "listener");
    m_client->addListener(&listener);
    ASSERT_EQ(KES_SUCCESS, m_client->startThread(frame));
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE,
                   qeltest::stateBody(qeltest::stateWith(0, 100)));
    EXPECT_TRUE(pumpUntil([&] { return !m_log.empty(); }));
    EXPECT_EQ(std::vector<std::string>{"listener:4"}, m_log);
    m_client->removeListener(&listener);
}

TEST_F(MainWindow, ClosingSendsOneDisconnect) {
    startUp();
    QelFrame* frame = makeFrame();
    frame->setClient(m_client.get());
    ASSERT_EQ(KES_SUCCESS, m_client->startThread(frame));
    m_manager.drain();
    closeFrame();
    EXPECT_EQ(std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}, received());
    EXPECT_EQ(0u, managerClient()->status);
}

TEST_F(MainWindow, ClosingWithoutAClientSendsNothing) {
    startUp();
    makeFrame();
    m_manager.drain();
    closeFrame();
    EXPECT_TRUE(received().empty());
}

// A terminating signal closes the frame by force while a dialog or a message
// box runs modally: the client stops at once (its DISCONNECT leaves), the
// frame stays until the run has returned (its opener is still on the stack),
// then closes.
TEST_F(MainWindow, ClosingWhileADialogOrBoxRunsWaitsUntilItsRunReturned) {
    startUp();
    const std::function<void(QelFrame*)> openers[] = {
        [](QelFrame* frame) {
            wxWindow* advanced = wxWindow::FindWindowByLabel(wxT("Advanced"), frame);
            ASSERT_NE(nullptr, advanced);
            wxCommandEvent click(wxEVT_BUTTON, advanced->GetId());
            click.SetEventObject(advanced);
            advanced->GetEventHandler()->ProcessEvent(click);
        },
        [](QelFrame*) {
            qelSetMessageBoxHook(nullptr); // the real box, caught by the modal hook
            qelMessageBox(wxICON_WARNING, wxT("Mind the gap"), QEL_CAPTION_WARNING);
        },
    };
    for (const auto& open : openers) {
        QelFrame* frame = makeFrame();
        frame->setClient(m_client.get());
        bool destroyed = false;
        frame->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
            destroyed = destroyed || event.GetEventObject() == frame;
            event.Skip();
        });
        qelguitest::DialogHook hook([&](wxDialog*) {
            frame->Close(true);
            wxTheApp->ProcessIdle();
            EXPECT_FALSE(destroyed) << "the run has not returned";
            EXPECT_EQ(nullptr, managerClient()->callback) << "the client has stopped";
            return wxID_OK;
        });
        open(frame);
        EXPECT_EQ(1, hook.entered);
        EXPECT_TRUE(pumpUntil([&] {
            wxTheApp->ProcessIdle();
            return destroyed;
        }));
        m_frame = nullptr;
        qeltest::failOnEveryBox();
    }
    EXPECT_EQ(std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}, received()) << "one, at once";
}

// ---- keyboard traversal ----------------------------------------------------

// Where the display's keyboard focus is, as the toolkit's native layer sees
// it: a choice takes the focus on an inner widget and reports no focus event
// of its own, so the frame's focused native widget is asked for instead. The
// native functions are found in the toolkit library already loaded.
class NativeFocus {
public:
    NativeFocus()
        : m_getFocus(reinterpret_cast<GetFocus>(dlsym(RTLD_DEFAULT, "gtk_window_get_focus"))),
          m_isAncestor(
              reinterpret_cast<IsAncestor>(dlsym(RTLD_DEFAULT, "gtk_widget_is_ancestor"))) {}

    bool available() const { return m_getFocus != nullptr && m_isAncestor != nullptr; }

    // The first of `candidates` (searched from the last, so that a control
    // wins over the notebook holding it) that holds the focus of `frame`.
    wxWindow* focused(wxWindow* frame, const std::vector<wxWindow*>& candidates) const {
        void* focus = m_getFocus(frame->GetHandle());
        if (focus == nullptr) {
            return nullptr;
        }
        for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
            void* widget = (*it)->GetHandle();
            if (focus == widget || m_isAncestor(focus, widget)) {
                return *it;
            }
        }
        return nullptr;
    }
    void* raw(wxWindow* frame) const { return m_getFocus(frame->GetHandle()); }

private:
    using GetFocus = void* (*)(void*);
    using IsAncestor = int (*)(void*, void*);
    GetFocus m_getFocus;
    IsAncestor m_isAncestor;
};

class MainWindowKeyboard : public MainWindow {
protected:
    void SetUp() override {
        MainWindow::SetUp();
        ASSERT_TRUE(m_focus.available());
        QelFrame* frame = makeFrame();
        std::vector<wxChoice*> lists = choices(frame);
        std::vector<wxButton*> buttons;
        collect(frame, buttons);
        // Power, ASIO, Advanced, Help; then the five choices.
        ASSERT_EQ(4u, buttons.size());
        ASSERT_EQ(5u, lists.size());
        m_power = buttons[0];
        m_stops = {m_power};
        m_stops.insert(m_stops.end(), lists.begin(), lists.end());
        m_stops.insert(m_stops.end(), buttons.begin() + 1, buttons.end());
        m_notebook = wxWindow::FindWindowByName(wxT("notebook"), frame);
        ASSERT_NE(nullptr, m_notebook);
        m_candidates = m_stops;
        m_candidates.insert(m_candidates.begin(), m_notebook);

        frame->Show();
        m_power->SetFocus();
        ASSERT_TRUE(yieldUntil([&] { return focused() == m_power; }, 5000))
            << "the display gives the power button no focus";
    }
    void TearDown() override {
        if (m_frame != nullptr) {
            m_frame->Hide();
        }
        MainWindow::TearDown();
    }

    wxWindow* focused() { return m_focus.focused(m_frame, m_candidates); }

    // Presses Tab (with Shift when `back`) `count` times; where the focus
    // went after each press.
    std::vector<wxWindow*> press(int count, bool back) {
        std::vector<wxWindow*> reached;
        wxUIActionSimulator keyboard;
        for (int i = 0; i < count; ++i) {
            void* before = m_focus.raw(m_frame);
            keyboard.Char(WXK_TAB, back ? wxMOD_SHIFT : wxMOD_NONE);
            yieldUntil([&] { return m_focus.raw(m_frame) != before; }, 2000);
            reached.push_back(focused());
        }
        return reached;
    }

    NativeFocus m_focus;
    wxWindow* m_power = nullptr;
    wxWindow* m_notebook = nullptr;
    std::vector<wxWindow*> m_stops;      // power, five choices, ASIO, Advanced, help
    std::vector<wxWindow*> m_candidates; // the notebook and the stops
};

TEST_F(MainWindowKeyboard, TabWalksThePowerButtonTheChoicesAndTheButtons) {
    // From the power button: the five choices, ASIO, Advanced, help, the
    // notebook's tabs, and round to the power button again.
    std::vector<wxWindow*> expected(m_stops.begin() + 1, m_stops.end());
    expected.push_back(m_notebook);
    expected.push_back(m_power);
    EXPECT_EQ(expected, press(static_cast<int>(expected.size()), false));
}

TEST_F(MainWindowKeyboard, ShiftTabWalksThemBackwards) {
    std::vector<wxWindow*> expected{m_notebook};
    expected.insert(expected.end(), m_stops.rbegin(), m_stops.rend());
    EXPECT_EQ(expected, press(static_cast<int>(expected.size()), true));
}

} // namespace
