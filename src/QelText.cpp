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
    qelLoadTranslation(*translations, wxUILocale::GetPreferredUILanguages(),
                       wxString::FromAscii(QEL_CATALOGUE));
}

wxString qelLoadTranslation(wxTranslations& translations, const wxVector<wxString>& languages,
                            const wxString& domain) {
    for (const wxString& wanted : languages) {
        wxString language = wanted;
        language.Replace(wxT("-"), wxT("_"));
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
