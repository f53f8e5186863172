// Every message box of the control panel: modal, without a parent window,
// always with an OK button, at the default position.
#pragma once

#include "QelText.h"

#include <wx/string.h>

#include <functional>

// The captions of the error and warning boxes, made before start-up.
extern const wxString QEL_CAPTION_ERROR;   // "Error"
extern const wxString QEL_CAPTION_WARNING; // "Warning"

// Shows `text` under `caption` with the icon `style` asks for (wxICON_ERROR,
// wxICON_WARNING) and an OK button, in the user's language; returns the id
// of the button pressed. Every box is written to the log first, at level
// Info and in English, as `Message box "<caption>": <text>`.
int qelMessageBox(long style, const QelText& text, const QelText& caption);
// The same for texts written in English (message ids): translated here.
int qelMessageBox(long style, const wxString& text, const wxString& caption);

// qelMessageBox with the error icon and the caption "Error".
int qelErrorBox(const QelText& text);
int qelErrorBox(const wxString& text);

// Replaces the dialog: while a hook is set, every box calls it with the
// dialog's whole style (wxOK included), the text and the caption as the user
// would read them, and returns
// what it returns; no dialog is made. An empty hook restores the dialogs.
// For the tests, which must not wait for a person to press a button.
using QelMessageBoxHook =
    std::function<int(long style, const wxString& text, const wxString& caption)>;
void qelSetMessageBoxHook(QelMessageBoxHook hook);
