#include "QelClientSubscription.h"

#include "QelClient.h"

QelClientSubscription::QelClientSubscription(QelClientListener* listener)
    : m_listener(listener), m_client(nullptr) {}

QelClientSubscription::~QelClientSubscription() {
    setClient(nullptr);
}

bool QelClientSubscription::setClient(QelClient* client) {
    if (client == m_client) {
        return false;
    }
    if (m_client != nullptr) {
        m_client->removeListener(m_listener);
    }
    m_client = client;
    if (m_client != nullptr) {
        m_client->addListener(m_listener);
    }
    return true;
}
