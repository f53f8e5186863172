#include "QelClient.h"

#include "QelClientListener.h"
#include "QelClientThread.h"
#include "QelMessageBox.h"

#include "QelConfig.h"
#include "QelFactory.h"
#include "QelInfo.h"
#include "QelOptions.h"
#include "QelState.h"

#include "tesk2_client.h"

#include <wx/event.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const wxString k_sleepWarning(wxS("The QEL Control panel has lost contact with QEL.\n"
                                  "This may be due to the computer entering a low power state\n"
                                  "such as sleep or hibernation\n"
                                  "Restart the QEL control panel to re-establish a connection."));

const wxString
    k_restartWarning(wxS("The QEL Control panel has lost contact with QEL.\n"
                         "Try restarting the QEL control panel to re-establish a connection."));

uint32_t isConnected(const qel_client* client) {
    return client->status == TESK2_CONNECTED;
}

uint32_t hasOptions(const qel_client* client) {
    return client->flags & QEL_CLIENT_OPTIONS_VALID;
}

uint32_t hasState(const qel_client* client) {
    return client->flags & QEL_CLIENT_STATE_VALID;
}

bool valid(const qel_client* client, uint32_t bit) {
    return client != nullptr && (client->flags & bit) != 0;
}

} // namespace

QelClient::QelClient(QelFactory* factory)
    : m_thread(nullptr), m_factory(factory), m_managerClient(nullptr), m_processingPending(0),
      m_lostContact(0), m_info(nullptr), m_options(nullptr), m_state(nullptr),
      m_threadObject(nullptr) {}

QelClient::~QelClient() {
    releaseThread();
    delete m_info;
    delete m_options;
    delete m_state;
    if (m_managerClient != nullptr) {
        qel_client_free(m_managerClient);
    }
}

kes_result QelClient::createModel() {
    if (m_managerClient == nullptr || m_factory == nullptr) {
        return KES_INVALIDSTATE;
    }
    m_managerClient->owner_context = this;
    if (m_info == nullptr) {
        m_info = m_factory->createInfo();
    }
    if (m_options == nullptr) {
        m_options = m_factory->createOptions();
    }
    if (m_state == nullptr) {
        m_state = m_factory->createState();
    }
    if (m_info == nullptr || m_options == nullptr || m_state == nullptr) {
        qel_client_free(m_managerClient);
        m_managerClient = nullptr;
        return KES_NOMEMORY;
    }
    return KES_SUCCESS;
}

kes_result QelClient::connect() {
    if (m_managerClient == nullptr) {
        return KES_INVALIDSTATE;
    }
    m_managerClient->callback = &QelClient::managerCallback;
    const kes_result result = qel_client_connect(m_managerClient);
    if (result != KES_SUCCESS) {
        m_managerClient->callback = nullptr;
        return result;
    }
    return KES_SUCCESS;
}

kes_result QelClient::waitForConnection() {
    return waitFor(&isConnected);
}

kes_result QelClient::waitForOptions() {
    return waitFor(&hasOptions);
}

kes_result QelClient::waitForState() {
    return waitFor(&hasState);
}

// Drives the manager client on this thread until `condition` holds, for at
// most QEL_STARTUP_WAIT. A condition that holds already returns at once,
// without touching the socket.
kes_result QelClient::waitFor(uint32_t (*condition)(const qel_client* client)) {
    if (m_managerClient == nullptr) {
        return KES_INVALIDSTATE;
    }
    kes_time now{0, 0};
    kes_time_now(&now);
    kes_time deadline = now;
    kes_time_add(&deadline, &QEL_STARTUP_WAIT);
    if (kes_time_compare(&now, &deadline) > 0) {
        return KES_TIMEDOUT;
    }
    while (condition(m_managerClient) == 0) {
        kes_time remaining = deadline;
        kes_time_subtract(&remaining, &now);
        kes_result result = kes_socket_wait_readable(m_managerClient->socket, &remaining);
        if (result != KES_SUCCESS) {
            return result;
        }
        // A bounded batch: a flood of events must not keep the user's input
        // waiting. What is left makes the client thread post again.
        result = tesk2_client_process_some(m_managerClient->protocol, QEL_PROCESSING_BATCH);
        if (result != KES_SUCCESS) {
            return result;
        }
        kes_time_now(&now);
        if (kes_time_compare(&now, &deadline) > 0) {
            return KES_TIMEDOUT;
        }
    }
    return KES_SUCCESS;
}

void QelClient::addListener(QelClientListener* listener) {
    m_listeners.push_back(listener);
}

void QelClient::removeListener(QelClientListener* listener) {
    auto it = std::find(m_listeners.begin(), m_listeners.end(), listener);
    if (it != m_listeners.end()) {
        m_listeners.erase(it);
    }
}

QelInfo* QelClient::getInfo() const {
    return valid(m_managerClient, QEL_CLIENT_INFO_VALID) ? m_info : nullptr;
}

QelOptions* QelClient::getOptions() const {
    return valid(m_managerClient, QEL_CLIENT_OPTIONS_VALID) ? m_options : nullptr;
}

QelState* QelClient::getState() const {
    return valid(m_managerClient, QEL_CLIENT_STATE_VALID) ? m_state : nullptr;
}

kes_result QelClient::setConfig(const QelConfig& config) {
    qel_config record;
    std::memset(&record, 0, sizeof record);
    const qel_options* options = m_options != nullptr ? m_options->getRecord() : nullptr;
    if (!config.toRecord(options, &record)) {
        return KES_INVALIDDATA;
    }
    return qel_client_set_system_config(&record, m_managerClient);
}

void QelClient::onManagerEvent(int code) {
    const qel_client* client = m_managerClient;
    const qel_options* options =
        valid(client, QEL_CLIENT_OPTIONS_VALID) ? &client->options : nullptr;
    switch (code) {
    case QEL_CLIENT_EVENT_REQUEST_DONE:
    case QEL_CLIENT_EVENT_STATE:
        if (m_state != nullptr) {
            m_state->update(options,
                            valid(client, QEL_CLIENT_STATE_VALID) ? &client->state : nullptr);
        }
        break;
    case QEL_CLIENT_EVENT_CONNECTION:
        checkConnectionLoss();
        break;
    case QEL_CLIENT_EVENT_INFO:
        if (m_info != nullptr) {
            m_info->update(valid(client, QEL_CLIENT_INFO_VALID) ? &client->info : nullptr);
        }
        break;
    case QEL_CLIENT_EVENT_OPTIONS:
        if (m_options != nullptr) {
            m_options->update(options);
        }
        break;
    default:
        break;
    }
    // A listener may add or remove listeners: the length is read every step.
    for (size_t i = 0; i < m_listeners.size(); ++i) {
        m_listeners[i]->onClientEvent(code);
    }
}

// The manager connection has dropped. If the client thread has not run for
// longer than the gap, the process was suspended: the sleep warning follows
// from onThreadEvent. Otherwise the user is told to restart, once.
void QelClient::checkConnectionLoss() {
    if (m_managerClient == nullptr || m_managerClient->status != TESK2_DISCONNECTED ||
        m_lostContact.load() != 0) {
        return;
    }
    kes_time gap{0, 0};
    kes_time_now(&gap);
    const kes_time tick = g_clientThreadTick.load();
    kes_time_subtract(&gap, &tick);
    if (kes_time_compare(&gap, &QEL_LOST_CONTACT_GAP) > 0) {
        m_lostContact = 1;
    }
    if (m_lostContact.load() == 0) {
        qelMessageBox(wxICON_WARNING, k_restartWarning, QEL_CAPTION_WARNING);
    }
}

void QelClient::managerCallback(qel_client* client, QelClientEvent event) {
    if (client != nullptr && client->owner_context != nullptr) {
        static_cast<QelClient*>(client->owner_context)->onManagerEvent(event);
    }
}

kes_result QelClient::startThread(wxEvtHandler* frame) {
    if (m_thread.load() != nullptr) {
        return KES_INVALIDSTATE;
    }
    if (frame == nullptr) {
        return KES_INVALIDPARAMETER;
    }
    // A thread that ended by itself and has not been stopped yet.
    releaseThread();
    m_processingPending = 0;
    QelClientThread* thread = new (std::nothrow) QelClientThread(this, frame);
    if (thread == nullptr) {
        return KES_NOMEMORY;
    }
    if (thread->Create() != wxTHREAD_NO_ERROR) {
        delete thread; // no thread of the system was made
        return KES_SYSTEM;
    }
    m_threadObject = thread;
    m_thread = thread;
    if (thread->Run() != wxTHREAD_NO_ERROR) {
        releaseThread();
        return KES_SYSTEM;
    }
    return KES_SUCCESS;
}

// Joins and deletes the thread object, exactly once. Delete asks a running
// thread to end and blocks until Entry has returned (at most one socket wait,
// half a second); it does not join a thread that had already ended by itself,
// so Wait follows, which joins in every case and returns at once when Delete
// already did.
void QelClient::releaseThread() {
    QelClientThread* thread = m_threadObject;
    if (thread == nullptr) {
        return;
    }
    m_threadObject = nullptr;
    thread->Delete(nullptr, wxTHREAD_WAIT_BLOCK);
    thread->Wait(wxTHREAD_WAIT_BLOCK);
    m_thread = nullptr;
    delete thread;
}

void QelClient::stop() {
    releaseThread();
    if (m_managerClient != nullptr) {
        m_managerClient->callback = nullptr;
        qel_client_disconnect(m_managerClient);
    }
}

kes_result QelClient::onThreadEvent() {
    kes_result result = KES_SUCCESS;
    if (m_processingPending.load() != 0 && m_managerClient != nullptr) {
        wxMutexLocker lock(m_mutex);
        m_processingPending = 0;
        // A bounded batch: a flood of events must not keep the user's input
        // waiting. What is left makes the client thread post again.
        result = tesk2_client_process_some(m_managerClient->protocol, QEL_PROCESSING_BATCH);
    }
    if (m_lostContact.load() != 0) {
        qelMessageBox(wxICON_WARNING, k_sleepWarning, QEL_CAPTION_WARNING);
        stop();
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_INFO);
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_OPTIONS);
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_STATE);
        }
    } else if (m_managerClient == nullptr || m_managerClient->status == TESK2_DISCONNECTED) {
        stop();
    }
    return result;
}

kes_result QelClient::getWaitInfo(QelClientWaitInfo* info) {
    wxMutexLocker lock(m_mutex);
    info->connectionStatus =
        m_managerClient != nullptr ? static_cast<int>(m_managerClient->status) : 0;
    if (info->connectionStatus != 0) {
        info->socket = m_managerClient->socket;
        tesk2_client_next_deadline(m_managerClient->protocol, &info->nextDeadline);
        info->processingPending = m_processingPending.load();
    }
    return KES_SUCCESS;
}

void QelClient::requestProcessing(wxEvtHandler* frame) {
    wxMutexLocker lock(m_mutex);
    m_processingPending = 1;
    postClientEvent(frame);
}

void QelClient::reportLostContact(wxEvtHandler* frame) {
    wxMutexLocker lock(m_mutex);
    m_lostContact = 1;
    postClientEvent(frame);
}

// Queues one QEL_EVT_CLIENT on the frame through the toolkit's thread-safe
// pending-event queue; the GUI thread handles it later.
void QelClient::postClientEvent(wxEvtHandler* frame) {
    wxCommandEvent event(QEL_EVT_CLIENT, 0);
    event.SetEventObject(frame);
    frame->AddPendingEvent(event);
}
