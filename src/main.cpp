// The qel-panel program: registers the application object with the toolkit
// and runs it, after what must happen before the toolkit starts.
#include "QelAppPlatform.h"
#include "QelGui.h"

#include <wx/debug.h>
#include <wx/log.h>

#include <cstdio>
#include <cstdlib>

#ifndef QEL_ABORT_ON_ASSERT
#define QEL_ABORT_ON_ASSERT 0
#endif

wxIMPLEMENT_APP_NO_MAIN(QelGui);

namespace {

// Builds for tests (QEL_ABORT_ON_ASSERT) turn a failed assert of the
// toolkit into a line on standard error and the end of the program, and
// write the toolkit's own log messages to standard error: the toolkit would
// otherwise show either in a dialog, and a run without a person to answer
// it would wait for ever.
constexpr bool k_abortOnAssert = QEL_ABORT_ON_ASSERT != 0;

void logAndAbort(const wxString& file, int line, const wxString& function,
                 const wxString& condition, const wxString& message) {
    std::fprintf(stderr, "qel-panel: assert \"%s\" failed in %s (%s:%d): %s\n",
                 static_cast<const char*>(condition.utf8_str()),
                 static_cast<const char*>(function.utf8_str()),
                 static_cast<const char*>(file.utf8_str()), line,
                 static_cast<const char*>(message.utf8_str()));
    std::fflush(stderr);
    std::abort();
}

} // namespace

int main(int argc, char** argv) {
    qelPrepareToolkit();
    if (k_abortOnAssert) {
        wxSetAssertHandler(&logAndAbort);
        delete wxLog::SetActiveTarget(new wxLogStderr);
    }

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
