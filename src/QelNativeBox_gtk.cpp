// The native message box on GTK: the box runs the toolkit's own loop, which
// handles the pending events by itself, and it is answered through its
// dialog response.
#include "QelNativeBox.h"

#include <wx/msgdlg.h>

#include <gtk/gtk.h>

class QelNativeBoxRun::Pump {};

QelNativeBoxRun::QelNativeBoxRun() = default;

QelNativeBoxRun::~QelNativeBoxRun() = default;

bool qelEndNativeBox(wxMessageDialog* box) {
    GtkWidget* widget = static_cast<GtkWidget*>(box->GetHandle());
    if (widget == nullptr || !GTK_IS_DIALOG(widget)) {
        return false; // not shown (yet), or a test's stand-in
    }
    gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_DELETE_EVENT);
    return true;
}
