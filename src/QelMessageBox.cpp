#include "QelMessageBox.h"

#include "QelClient.h"
#include "QelModalRun.h"
#include "QelNativeBox.h"

#include "kes_env.h"
#include "kes_log.h"

#include <wx/debug.h>
#include <wx/msgdlg.h>

#include <utility>

// Marked for translation; translated when a box is shown.
const wxString QEL_CAPTION_ERROR(wxTRANSLATE("Error"));
const wxString QEL_CAPTION_WARNING(wxTRANSLATE("Warning"));

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
    return qelMessageBox(style, qelText(text), qelText(caption));
}

int qelMessageBox(long style, const QelText& text, const QelText& caption) {
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
                       static_cast<const char*>(caption.english.utf8_str()),
                       static_cast<const char*>(text.english.utf8_str()));
        kes_env_release(env);
    }
    if (hook()) {
        return hook()(dialogStyle, text.shown, caption.shown);
    }
    wxMessageDialog dialog(nullptr, text.shown, caption.shown, dialogStyle, wxDefaultPosition);
    QelModalRunScope run(&dialog);
    QelNativeBoxRun events;
    return dialog.ShowModal();
}

int qelErrorBox(const QelText& text) {
    return qelMessageBox(wxICON_ERROR, text, qelText(QEL_CAPTION_ERROR));
}

int qelErrorBox(const wxString& text) {
    return qelErrorBox(qelText(text));
}
