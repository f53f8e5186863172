#include "QelText.h"

#include <wx/intl.h>
#include <wx/uilocale.h>

QelText qelText(const wxString& english) {
    return QelText{english, wxGetTranslation(english)};
}

void qelUseTranslations(const wxString& directory) {
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(directory + wxT("/locale"));
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(directory + wxT("/../../share/locale"));
    wxTranslations* translations = wxTranslations::Get();
    if (translations == nullptr) {
        translations = new wxTranslations();
        wxTranslations::Set(translations); // owned by the toolkit from here on
    }
    // The user's languages, then the system's: where the system names no
    // preferred language (wine, for one), its locale decides, as it does
    // for the toolkit's own choice.
    wxVector<wxString> languages = wxUILocale::GetPreferredUILanguages();
    const wxString system = wxUILocale::GetLanguageCanonicalName(wxUILocale::GetSystemLocale());
    if (!system.empty()) {
        languages.push_back(system);
    }
    qelLoadTranslation(*translations, languages, wxString::FromAscii(QEL_CATALOGUE));
}

wxString qelLoadTranslation(wxTranslations& translations, const wxVector<wxString>& languages,
                            const wxString& domain) {
    for (const wxString& wanted : languages) {
        // "de-AT" and "de_AT" alike, as the toolkit's catalogues are named.
        wxString language = wxLocaleIdent::FromTag(wanted).GetTag(wxLOCALE_TAGTYPE_POSIX);
        // The English texts are the message ids: no catalogue is needed
        // for them, and a language wanted after English is not wanted.
        if (language.empty() || language.BeforeFirst(wxT('_')) == wxT("en")) {
            break;
        }
        // Asked for "de_AT", the toolkit falls back to "de" by itself.
        translations.SetLanguage(language);
        if (translations.AddCatalog(domain, wxLANGUAGE_ENGLISH_US) &&
            translations.IsLoaded(domain)) {
            return language;
        }
    }
    translations.SetLanguage(wxLANGUAGE_DEFAULT);
    return wxString();
}
