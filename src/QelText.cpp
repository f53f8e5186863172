#include "QelText.h"

#include <wx/intl.h>

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
    translations->SetLanguage(wxLANGUAGE_DEFAULT);
    // The English texts are the message ids: no catalogue is needed for them.
    translations->AddCatalog(wxString::FromAscii(QEL_CATALOGUE), wxLANGUAGE_ENGLISH_US);
}
