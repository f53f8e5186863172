// The display connection of the whole-process tests, apart from the other
// helpers because the X library's header defines names of its own.
#include "e2e_support.h"

#include <X11/Xlib.h>

#include <thread>

namespace qele2e {

DisplayConnection::DisplayConnection(int timeoutMs) : m_display(nullptr) {
    waitUntil(
        [&] {
            m_display = XOpenDisplay(nullptr);
            return m_display != nullptr;
        },
        timeoutMs);
}

DisplayConnection::~DisplayConnection() {
    if (m_display != nullptr) {
        XCloseDisplay(static_cast<Display*>(m_display));
    }
}

} // namespace qele2e
