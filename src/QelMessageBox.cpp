#include "QelMessageBox.h"

#include <wx/msgdlg.h>

#include <utility>

const wxString QEL_CAPTION_ERROR(wxS("Error"));
const wxString QEL_CAPTION_WARNING(wxS("Warning"));

namespace {

// Made on first use, so that no order of static initialisation matters.
QelMessageBoxHook& hook() {
    static QelMessageBoxHook s_hook;
    return s_hook;
}

} // namespace

void qelSetMessageBoxHook(QelMessageBoxHook replacement) {
    hook() = std::move(replacement);
}

int qelMessageBox(long style, const wxString& text, const wxString& caption) {
    const long dialogStyle = wxOK | style;
    if (hook()) {
        return hook()(dialogStyle, text, caption);
    }
    wxMessageDialog dialog(nullptr, text, caption, dialogStyle, wxDefaultPosition);
    return dialog.ShowModal();
}

int qelErrorBox(const wxString& text) {
    return qelMessageBox(wxICON_ERROR, text, QEL_CAPTION_ERROR);
}
