// The modal runs of the panel's dialogs. A window that is closed while one of
// its dialogs runs modally must wait until the run has returned: deleting it
// earlier would delete the dialog under its own running ShowModal and the
// handler that opened it.
#pragma once

class wxDialog;

// Shows `dialog` modally, then deletes it; returns what ShowModal returned.
int qelRunModal(wxDialog* dialog);

// Whether some dialog shown by qelRunModal has not returned yet.
bool qelModalRunning();

// Ends every modal run of qelRunModal that is still modal (with wxID_CANCEL);
// each returns once control is back in its loop.
void qelEndModalRuns();
