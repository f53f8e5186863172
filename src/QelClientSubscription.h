// A listener's registration with one client at a time. Moving it to another
// client, or destroying it, ends the registration with the old one, so a
// listener that holds its subscription as a member can never be left
// registered with a client after it has gone.
#pragma once

class QelClient;
class QelClientListener;

class QelClientSubscription {
public:
    // Registers `listener` (not owned) nowhere yet.
    explicit QelClientSubscription(QelClientListener* listener);
    // Ends the registration, if any.
    ~QelClientSubscription();
    QelClientSubscription(const QelClientSubscription&) = delete;
    QelClientSubscription& operator=(const QelClientSubscription&) = delete;

    // Removes the listener from the client it is registered with and appends
    // it to `client`'s listeners (null: to none). False, with nothing
    // changed, when `client` is the one it is registered with already.
    bool setClient(QelClient* client);

    QelClient* getClient() const { return m_client; }

private:
    QelClientListener* m_listener;
    QelClient* m_client; // null: registered nowhere
};
