// The user's language. Every text the user reads is written in English in the
// code, as the message id of its translation; the log keeps the English (it
// is a diagnostic, not what the user reads). In the C and English locales a
// translation is the message id itself, byte for byte.
#pragma once

#include <wx/string.h>
#include <wx/translation.h>
#include <wx/vector.h>

#include <utility>

// A text as the user reads it and as the log keeps it.
struct QelText {
    wxString english;
    wxString shown;
};

// `english` and its translation.
QelText qelText(const wxString& english);

namespace qeltext {
template <typename T> const T& english(const T& value) {
    return value;
}
inline const wxString& english(const QelText& text) {
    return text.english;
}
template <typename T> const T& shown(const T& value) {
    return value;
}
inline const wxString& shown(const QelText& text) {
    return text.shown;
}
} // namespace qeltext

// A text made from a format (the message id) and values: the English with
// the format as written, the translation with the translated format. A
// value that is itself a QelText goes into each in its own form.
template <typename... Values> QelText qelFormat(const wxString& format, const Values&... values) {
    return QelText{wxString::Format(format, qeltext::english(values)...),
                   wxString::Format(wxGetTranslation(format), qeltext::shown(values)...)};
}

// Loads the translations of the user's language (from LANGUAGE, LC_ALL,
// LC_MESSAGES or LANG) for the "qelvane" catalogue, looked for in
// `<directory>/locale` (the build) and `<directory>/../../share/locale`
// (an installation, where the program lives in lib/qelvane). Without a
// catalogue for the language every text stays English.
void qelUseTranslations(const wxString& directory);

// Loads the "domain" catalogue into `translations` for the first of
// `languages` (the user's, most wanted first: "de_DE", "de-AT", "fr") that
// has one, in that language or else without its region, and returns the
// language it was asked for; empty when none has one or an English one comes
// first, as the texts are English already. Each language is asked for by
// name, rather than by listing every language directory of every lookup
// place (a system's locale directory holds hundreds) as the toolkit does to
// learn what is available; where and how a catalogue is found and read is
// the toolkit's, so the same file is found.
wxString qelLoadTranslation(wxTranslations& translations, const wxVector<wxString>& languages,
                            const wxString& domain);

// The catalogue's name.
constexpr const char* QEL_CATALOGUE = "qelvane";
