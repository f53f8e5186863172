#include "QelModalRun.h"

#include <wx/dialog.h>

#include <algorithm>
#include <vector>

namespace {

// The dialogs whose ShowModal has not returned, innermost last. GUI thread
// only.
std::vector<wxDialog*>& runs() {
    static std::vector<wxDialog*> running;
    return running;
}

} // namespace

int qelRunModal(wxDialog* dialog) {
    runs().push_back(dialog);
    const int result = dialog->ShowModal();
    runs().erase(std::find(runs().begin(), runs().end(), dialog));
    delete dialog;
    return result;
}

bool qelModalRunning() {
    return !runs().empty();
}

void qelEndModalRuns() {
    for (wxDialog* dialog : runs()) {
        if (dialog->IsModal()) {
            dialog->EndModal(wxID_CANCEL);
        }
    }
}
