// What the client asks the user to be told when contact with the manager is
// lost. The client itself shows nothing: whoever sits above it (the error
// reporter in the application) turns each report into a warning box.
#pragma once

// Why contact was lost; each reason has a warning text of its own.
enum QelLostContact {
    // The manager connection dropped while the computer was awake: the user
    // is told to restart the panel.
    QEL_LOST_CONTACT_DISCONNECTED = 0,
    // The client thread saw a clock gap of more than 30 s: the computer slept
    // or hibernated, and the connection was given up.
    QEL_LOST_CONTACT_SLEEP = 1,
};

class QelClientWarnings {
public:
    virtual ~QelClientWarnings() = default;

    // Called on the GUI thread, never with the client's lock held, at most
    // once per reason; may show a modal box. For the sleep reason the client
    // stops itself once this returns.
    virtual void onLostContact(QelLostContact reason) = 0;
};
