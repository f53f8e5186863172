// The program on GTK: OpenGL left out, the icon from the pictures beside the
// program, the termination from the signals.
#include "QelAppPlatform.h"

#include "QelImageManager.h"

#include <wx/app.h>
#include <wx/icon.h>

#include <csignal>
#include <cstdlib>

namespace {

// The application icon, one picture per size: "qel_icon-256.png" and so on.
const char k_iconName[] = "qel_icon";
const int k_iconSizes[] = {256, 48, 32, 24, 16};

} // namespace

void qelPrepareToolkit() {
    setenv("GDK_GL", "disable", 0);
}

wxIconBundle qelApplicationIcons(const QelImageManager& images) {
    wxIconBundle icons;
    for (int size : k_iconSizes) {
        wxIcon icon;
        const wxString name = wxString::Format(wxT("%s-%d.png"), k_iconName, size);
        if (images.loadIcon(icon, name, wxBITMAP_TYPE_PNG)) {
            icons.AddIcon(icon);
        }
    }
    return icons;
}

void qelCloseOnTerminate(wxApp* app, void (*close)(int signal)) {
    app->SetSignalHandler(SIGTERM, close);
    app->SetSignalHandler(SIGINT, close);
}
