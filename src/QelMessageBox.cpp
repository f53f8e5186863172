#include "QelMessageBox.h"

#include "QelClient.h"
#include "QelModalRun.h"

#include "kes_env.h"
#include "kes_log.h"

#include <wx/debug.h>
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
    // A box held open with the client's lock would keep the client thread
    // from posting, and so every keepalive from leaving, for as long as the
    // user reads it.
    wxASSERT_MSG(!qelClientLockHeld(), wxS("qelMessageBox with a client's lock held"));
    const long dialogStyle = wxOK | style;
    // The log keeps what the user was told, for the record and for whoever
    // looks at the panel from outside.
    kes_env* env = nullptr;
    if (kes_env_acquire(&env) == KES_SUCCESS) {
        kes_log_printf(env->log, KES_LOG_INFO, "Message box \"%s\": %s\n",
                       static_cast<const char*>(caption.utf8_str()),
                       static_cast<const char*>(text.utf8_str()));
        kes_env_release(env);
    }
    if (hook()) {
        return hook()(dialogStyle, text, caption);
    }
    wxMessageDialog dialog(nullptr, text, caption, dialogStyle, wxDefaultPosition);
    QelModalRunScope run(&dialog);
    return dialog.ShowModal();
}

int qelErrorBox(const wxString& text) {
    return qelMessageBox(wxICON_ERROR, text, QEL_CAPTION_ERROR);
}
