// The native message box on Windows, shown for real (the display is needed):
// the system runs the box's message loop, which never gives the toolkit's
// loop a turn, yet the client thread's events are handled while it is open,
// so the client's keepalive leaves on time; and ending the modal runs
// answers the box. A second thread plays the user: it waits for the box to
// appear, acts, and closes the box itself should the panel not (a failure).
#include "bridge_support.h"

#include "QelClientThread.h"
#include "QelMessageBox.h"
#include "QelModalRun.h"
#include "QelNativeBox.h"

#include "tesk2_message.h"
#include "test_clock.h"
#include "wx_test_main.h"

#include <wx/app.h>
#include <wx/event.h>
#include <wx/msgdlg.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace qeltest {
namespace {

// The bound for what happens at once; a passing run never comes near it.
constexpr int k_boundMs = 10000;

// The visible native box of `thread` ("#32770", the class of every dialog),
// waited for until it appears; null when it does not within the bound.
HWND waitForBox(DWORD thread) {
    struct Search {
        HWND found = nullptr;
    } search;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(k_boundMs);
    while (search.found == nullptr && std::chrono::steady_clock::now() < end) {
        EnumThreadWindows(
            thread,
            [](HWND window, LPARAM context) -> BOOL {
                wchar_t name[16] = {};
                if (IsWindowVisible(window) && GetClassNameW(window, name, 16) > 0 &&
                    lstrcmpW(name, L"#32770") == 0) {
                    reinterpret_cast<Search*>(context)->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return search.found;
}

// Whether `box` is gone within the bound.
bool waitGone(HWND box) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(k_boundMs);
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The main window's part for the client thread's events.
class Target : public wxEvtHandler {
public:
    explicit Target(QelClient* client) : m_client(client) {
        Bind(QEL_EVT_CLIENT, [this](wxThreadEvent&) { m_client->onThreadEvent(); });
    }

private:
    QelClient* m_client;
};

class NativeBox : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        qelSetMessageBoxHook(nullptr);
    }

    TestClock m_clock;
    AllowDialogs m_dialogs;
    const DWORD m_gui = GetCurrentThreadId();
};

TEST_F(NativeBox, TheClientSendsItsKeepaliveWhileABoxIsOpen) {
    startUp();
    Target target(m_client.get());
    ASSERT_EQ(m_client->startThread(&target), KES_SUCCESS);

    std::atomic<bool> sawBox{false};
    std::atomic<bool> keepalive{false};
    std::thread user([&] {
        const HWND box = waitForBox(m_gui);
        sawBox = box != nullptr;
        if (box == nullptr) {
            return;
        }
        m_clock.advance(11); // the 10 s keepalive is due
        Datagram d;
        while (!keepalive && m_manager.receive(d, k_boundMs)) {
            keepalive = d.opcode == TESK2_OPCODE_KEEPALIVE;
        }
        PostMessageW(box, WM_CLOSE, 0, 0);
    });
    const int answer = qelMessageBox(wxICON_WARNING, wxS("Keep reading"), QEL_CAPTION_WARNING);
    user.join();
    EXPECT_TRUE(sawBox) << "no box appeared";
    EXPECT_TRUE(keepalive) << "no keepalive left while the box was open";
    EXPECT_EQ(answer, wxID_OK);
    EXPECT_FALSE(qelModalRunning());
}

TEST_F(NativeBox, EndingTheModalRunsAnswersTheBoxAsItsClose) {
    std::atomic<bool> sawBox{false};
    std::atomic<bool> closedByThePanel{false};
    std::thread user([&] {
        const HWND box = waitForBox(m_gui);
        sawBox = box != nullptr;
        if (box == nullptr) {
            return;
        }
        // As a close of the main window does while a box is open.
        wxTheApp->CallAfter([] { qelEndModalRuns(); });
        closedByThePanel = waitGone(box);
        if (!closedByThePanel) {
            PostMessageW(box, WM_CLOSE, 0, 0);
        }
    });
    const int answer = qelErrorBox(wxS("Something went wrong"));
    user.join();
    EXPECT_TRUE(sawBox) << "no box appeared";
    EXPECT_TRUE(closedByThePanel) << "the box stayed open";
    EXPECT_EQ(answer, wxID_OK) << "a box with only OK answers its close with OK";
}

TEST_F(NativeBox, EndingTheModalRunsWithoutABoxFindsNone) {
    wxMessageDialog box(nullptr, wxS("never shown"));
    // Nothing of this thread is open, so nothing is ended.
    EXPECT_FALSE(qelEndNativeBox(&box));
}

} // namespace
} // namespace qeltest
