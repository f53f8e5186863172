// The qel-panel program: registers the application object with the toolkit
// and runs it, after two things that must happen before the toolkit starts.
#include "QelGui.h"

#include <cstdlib>

wxIMPLEMENT_APP_NO_MAIN(QelGui);

int main(int argc, char** argv) {
    // The panel draws nothing with OpenGL; without it the toolkit starts in
    // half the time and memory. A user's own setting is kept.
    setenv("GDK_GL", "disable", 0);

    // A second start asks the running panel to come to the front and ends
    // here, before any display connection is made: 0 when the running panel
    // answered, 1 when it has no window yet. A lock that cannot be taken at
    // all is told in a box, which needs the toolkit: the application object
    // tries again and says why.
    const kes_result lock = QelGui::lockInstance();
    if (lock == KES_ALREADY) {
        return 0;
    }
    if (lock == KES_NOTFOUND) {
        return 1;
    }
    return wxEntry(argc, argv);
}
