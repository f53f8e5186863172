// What the panel needs of the toolkit's native message box beyond showing
// it, done in each window system's own way (QelNativeBox_gtk.cpp,
// QelNativeBox_msw.cpp): answering a box that is open, and keeping the
// client's events flowing while one is.
#pragma once

#include <memory>

class wxMessageDialog;

// Made around a native box's ShowModal. While it exists the application's
// pending events (the client thread's among them) are handled even though
// the box runs a message loop of its own: the client keeps sending its
// keepalives and reading the manager's answers while the user reads the
// box. GTK's box runs the toolkit's loop, which handles them anyway; the
// Windows box runs the system's own loop, which does not, so a timer that
// the box's loop does dispatch handles them there.
class QelNativeBoxRun {
public:
    QelNativeBoxRun();
    ~QelNativeBoxRun();
    QelNativeBoxRun(const QelNativeBoxRun&) = delete;
    QelNativeBoxRun& operator=(const QelNativeBoxRun&) = delete;

    class Pump;

private:
    std::unique_ptr<Pump> m_pump;
};

// Ends `box` as the window system's close (or Escape) would, once control is
// back in its loop. False when it is not shown (yet), or is a test's
// stand-in. On Windows, where the toolkit keeps no handle of a native box,
// every native box the calling thread shows is ended.
bool qelEndNativeBox(wxMessageDialog* box);
