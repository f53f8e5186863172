#include "QelModalRun.h"

#include "QelNativeBox.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>

#include <algorithm>
#include <vector>

namespace {

// The dialogs whose ShowModal has not returned, innermost last. GUI thread
// only.
std::vector<wxDialog*>& runs() {
    static std::vector<wxDialog*> running;
    return running;
}

std::function<void()>& afterRuns() {
    static std::function<void()> action;
    return action;
}

// Posts the waiting action, if any, to run once control is back in the
// application's event loop.
void postAfterRuns() {
    std::function<void()> action = std::move(afterRuns());
    afterRuns() = nullptr;
    if (action && wxTheApp != nullptr) {
        wxTheApp->CallAfter(action);
    }
}

} // namespace

QelModalRunScope::QelModalRunScope(wxDialog* dialog) : m_dialog(dialog) {
    runs().push_back(dialog);
}

QelModalRunScope::~QelModalRunScope() {
    std::vector<wxDialog*>& running = runs();
    const auto at = std::find(running.rbegin(), running.rend(), m_dialog);
    if (at != running.rend()) {
        running.erase(std::next(at).base());
    }
    if (running.empty()) {
        postAfterRuns();
    }
}

int qelRunModal(wxDialog* dialog) {
    int result;
    {
        QelModalRunScope run(dialog);
        result = dialog->ShowModal();
    }
    delete dialog;
    return result;
}

bool qelModalRunning() {
    return !runs().empty();
}

void qelAfterModalRuns(std::function<void()> action) {
    afterRuns() = std::move(action);
    if (runs().empty()) {
        postAfterRuns();
    }
}

void qelEndModalRuns() {
    const std::vector<wxDialog*> running = runs();
    for (auto it = running.rbegin(); it != running.rend(); ++it) {
        wxDialog* dialog = *it;
        if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
            // The toolkit's native dialog, which wxDialog::EndModal does not
            // reach: it is answered as the window system's close would.
            qelEndNativeBox(box);
        } else if (dialog->IsModal()) {
            dialog->EndModal(wxID_CANCEL);
        }
    }
}
