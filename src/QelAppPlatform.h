// What the program and its application object do in each window system's
// own way (QelAppPlatform_gtk.cpp, QelAppPlatform_msw.cpp): preparing the
// toolkit's start, the window icon, and the requests from outside to end
// the program.
#pragma once

#include <wx/iconbndl.h>

class QelImageManager;
class wxApp;

// Before the toolkit starts. GTK: the panel draws nothing with OpenGL;
// without it the toolkit starts in half the time and memory (a user's own
// GDK_GL setting is kept). Windows: nothing.
void qelPrepareToolkit();

// The application icon in every size there is: the pictures
// "qel_icon-<size>.png" found by `images` on GTK, the icon resource
// "qel_icon" built into the program on Windows. Empty when there is none.
wxIconBundle qelApplicationIcons(const QelImageManager& images);

// Makes a request from outside to end the program call `close` on the GUI
// thread: SIGTERM and SIGINT on GTK. On Windows the requests (a WM_CLOSE
// sent to the window, the end of the session) reach the main window as a
// close of its own, so nothing is installed.
void qelCloseOnTerminate(wxApp* app, void (*close)(int signal));
