// Reports what the user must know of the manager: a new system-error code in
// the state is shown in a message box, then the manager is asked to clear
// it, so that one fault is reported once and a fault that comes back is
// reported again; and when the client loses contact with the manager, the
// warning that tells the user to restart the panel.
#pragma once

#include "QelClientListener.h"
#include "QelClientSubscription.h"
#include "QelClientWarnings.h"

#include <cstdint>

class QelClient;

class QelErrors : public QelClientListener, public QelClientWarnings {
public:
    // Registers itself as a listener of `client` (not owned) and as the one
    // its lost contact is reported to.
    explicit QelErrors(QelClient* client);
    QelErrors(const QelErrors&) = delete;
    QelErrors& operator=(const QelErrors&) = delete;
    // Unregisters itself.
    ~QelErrors() override;

    void onClientEvent(int code) override;

    // Compares the state's error code with the last one seen and reports a
    // change to a non-zero code.
    virtual void checkSystemError();

    // The restart warning, or the sleep warning, in a warning box.
    void onLostContact(QelLostContact reason) override;

private:
    QelClient* m_client;
    uint16_t m_lastSystemError; // 0: no error
    QelClientSubscription m_subscription;
};
