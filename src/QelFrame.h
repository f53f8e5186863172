// The main window: a fixed-size frame holding the main panel, which it makes
// through the factory. It hands the client to the panel, passes the client
// thread's wake-up events to the client on the GUI thread, and stops the
// client when the user closes it.
#pragma once

#include "QelFrameGen.h"

#include <wx/event.h>

class QelClient;
class QelFactory;
class QelImageManager;
class QelPanel;

class QelFrame : public QelFrameGen {
public:
    // Builds the frame, titled "Qelvane", and its panel from `factory`, which
    // loads its pictures through `images`. Neither is owned.
    QelFrame(QelFactory* factory, QelImageManager* images);

    // Keeps `client` (not owned) and gives it to the panel. Called once,
    // before the frame is shown.
    virtual void setClient(QelClient* client);

    // A QEL_EVT_CLIENT event from the client thread: the client processes
    // what arrived. Nothing happens before setClient.
    virtual void OnClientThread(wxThreadEvent& event);

protected:
    // Stops the client (thread, callback, DISCONNECT), then lets the frame
    // close.
    void OnClose(wxCloseEvent& event) override;

private:
    QelPanel* m_panel;     // child window, destroyed with the frame
    QelFactory* m_factory; // not owned
    QelClient* m_client;   // not owned; null until setClient

    wxDECLARE_EVENT_TABLE();
};
