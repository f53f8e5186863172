// The modal runs of the panel's dialogs and message boxes. A window that is
// closed while one of them runs must wait until the run has returned:
// deleting it earlier would delete a dialog under its own running ShowModal,
// and the window whose handler opened it, while that handler is still on the
// stack. The close ends the runs instead and happens once they have returned.
#pragma once

#include <functional>

class wxDialog;

// Counts `dialog` as running modally for its lifetime; made around ShowModal.
class QelModalRunScope {
public:
    explicit QelModalRunScope(wxDialog* dialog);
    ~QelModalRunScope();
    QelModalRunScope(const QelModalRunScope&) = delete;
    QelModalRunScope& operator=(const QelModalRunScope&) = delete;

private:
    wxDialog* m_dialog;
};

// Shows `dialog` modally, then deletes it; returns what ShowModal returned.
int qelRunModal(wxDialog* dialog);

// Whether some dialog or message box is still in its modal run.
bool qelModalRunning();

// Runs `action` once no dialog or message box runs modally any more: posted
// to the application when the last run returns (at once, posted, when none
// runs). A later request replaces an earlier one that has not run yet.
void qelAfterModalRuns(std::function<void()> action);

// Ends every modal run with wxID_CANCEL, innermost first: the dialogs' runs
// and the message boxes' (as if closed with Escape). Each returns once
// control is back in its loop.
void qelEndModalRuns();
