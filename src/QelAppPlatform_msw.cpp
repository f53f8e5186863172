// The application's icon and termination on Windows: the icon is the
// resource "qel_icon" of the program (qel-panel.rc: 256, 48, 32, 24 and 16
// pixels); a request to end the program arrives as a close of the window.
#include "QelAppPlatform.h"

#include <wx/app.h>

void qelPrepareToolkit() {}

wxIconBundle qelApplicationIcons(const QelImageManager&) {
    return wxIconBundle(wxS("qel_icon"), nullptr);
}

void qelCloseOnTerminate(wxApp*, void (*)(int)) {}
