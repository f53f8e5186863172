// The native message box on Windows. The toolkit shows it with the system's
// MessageBox or TaskDialogIndirect, whose own message loop dispatches window
// messages but never gives the toolkit's event loop a turn, so the pending
// events posted by other threads would wait until the box is closed. A timer
// is dispatched by any loop: while a box runs, it hands the pending events
// to the application. The box keeps no window handle the toolkit could
// give, so it is found among the dialogs of the thread that shows it: every
// native box the thread shows is ended, innermost and outer ones alike.
#include "QelNativeBox.h"

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>

#include <windows.h>

namespace {

// How often the pending events are handled while a box is open: well inside
// every time the client keeps (a keepalive is due every ten seconds).
constexpr int k_pumpMilliseconds = 50;

// The window class of every dialog, MessageBox's and the task dialog's.
constexpr wchar_t k_dialogClass[] = L"#32770";

BOOL CALLBACK closeDialog(HWND window, LPARAM found) {
    wchar_t name[16] = {};
    if (GetClassNameW(window, name, 16) == 0 || lstrcmpW(name, k_dialogClass) != 0 ||
        !IsWindowVisible(window)) {
        return TRUE;
    }
    // The close a box answers as Escape: OK for a box with only an OK
    // button, Cancel where there is one.
    PostMessageW(window, WM_CLOSE, 0, 0);
    *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

} // namespace

class QelNativeBoxRun::Pump : public wxTimer {
public:
    void Notify() override {
        if (wxTheApp != nullptr) {
            wxTheApp->ProcessPendingEvents();
        }
    }
};

QelNativeBoxRun::QelNativeBoxRun() : m_pump(new Pump) {
    m_pump->Start(k_pumpMilliseconds);
}

QelNativeBoxRun::~QelNativeBoxRun() {
    m_pump->Stop();
}

bool qelEndNativeBox(wxMessageDialog* box) {
    (void)box; // the toolkit keeps no handle of it
    bool found = false;
    EnumThreadWindows(GetCurrentThreadId(), &closeDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}
