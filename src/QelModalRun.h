// The modal runs of the panel's dialogs and message boxes. A window that is
// closed while one of them runs must wait until the run has returned:
// deleting it earlier would delete a dialog under its own running ShowModal
// and the handler that opened it, and a message box shown while the client's
// processing holds its lock would leave the client thread waiting for that
// lock while the close waits for the thread.
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

// Ends every modal run that the toolkit can end (with wxID_CANCEL): the
// dialogs' runs, each of which returns once control is back in its loop. A
// message box runs until the user answers it.
void qelEndModalRuns();
