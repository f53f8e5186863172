// The main of the tests that need the toolkit: QEL_WX_TEST_GUI selects a GUI
// application (wxApp) or a console one (wxAppConsole); QEL_WX_TEST_CORE says
// whether the toolkit's window library is linked (without it no dialog can
// exist, and none is watched for).
#include "wx_test_main.h"

#include "test_platform.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>
#if QEL_WX_TEST_CORE
#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace qeltest {

namespace {
int g_dialogsAllowed = 0;
} // namespace

AllowDialogs::AllowDialogs() {
    ++g_dialogsAllowed;
}

AllowDialogs::~AllowDialogs() {
    --g_dialogsAllowed;
}

// wxTheApp would cast to the GUI application class; the console main has none.
void pumpEvents() {
    if (wxAppConsole* app = wxAppConsole::GetInstance()) {
        app->ProcessPendingEvents();
    }
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pumpEvents();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace qeltest

namespace {

#if QEL_WX_TEST_GUI
using TestAppBase = wxApp;
#else
using TestAppBase = wxAppConsole;
#endif

class TestApp : public TestAppBase {
public:
    // The tests own the command line; the toolkit parses none of it.
    bool OnInit() override { return true; }
};

void onAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
              const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str().data(), line)
        << "toolkit assert (" << cond.utf8_str().data() << ") in " << func.utf8_str().data() << ": "
        << msg.utf8_str().data();
}

#if QEL_WX_TEST_CORE
// Registered first, so any hook a test installs (wxTEST_DIALOG) is asked
// before this one: what reaches it was not expected.
class UnexpectedDialogs : public wxModalDialogHook {
protected:
    int Enter(wxDialog* dialog) override {
        if (qeltest::g_dialogsAllowed > 0) {
            return wxID_NONE;
        }
        wxString what = dialog->GetTitle();
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            what << wxS(": ") << box->GetMessage();
        }
        ADD_FAILURE() << "unexpected modal dialog \"" << what.utf8_str().data() << "\"";
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}
};
#endif

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery runs without a display: list before the toolkit starts.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
#if QEL_WX_TEST_GUI && defined(__WXGTK__)
    // No accessibility bridge (GTK): the tests need none, and what it allocates at
    // start-up is never given back, which LeakSanitizer reports.
    setenv("NO_AT_BRIDGE", "1", 0);
#endif
    if (!qeltest::startSockets()) {
        std::fprintf(stderr, "wx_test_main: the platform's sockets did not start\n");
        return 1;
    }
    wxAppConsole::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "wx_test_main: the toolkit did not start (no display?)\n");
        return 1;
    }
    wxAppConsole* app = wxAppConsole::GetInstance();
    app->CallOnInit();
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxSetAssertHandler(&onAssert);
#if QEL_WX_TEST_CORE
    UnexpectedDialogs unexpected;
    unexpected.Register();
#endif

    const int status = RUN_ALL_TESTS();

#if QEL_WX_TEST_CORE
    unexpected.Unregister();
#endif
    app->OnExit();
    wxEntryCleanup();
    qeltest::stopSockets();
    return status;
}
