#include "QelClient.h"

#include "QelClientListener.h"
#include "QelClientThread.h"

#include "QelConfig.h"
#include "QelFactory.h"
#include "QelInfo.h"
#include "QelOptions.h"
#include "QelState.h"

#include "kes_log.h"
#include "tesk2_client.h"

#include <wx/debug.h>
#include <wx/event.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// How many client locks the calling thread holds.
thread_local int t_locksHeld = 0;

// Room for the notifications of one processing batch without growing.
constexpr size_t k_noticesReserved = 4 * QEL_PROCESSING_BATCH;

uint32_t isConnected(const qel_client* client) {
    return client->status == TESK2_CONNECTED;
}

// The CONNECT was answered without a connection (the manager refused it, "Too
// many clients"): waiting longer cannot help.
kes_result connectRefused(const qel_client* client) {
    return client->status == TESK2_DISCONNECTED && client->pending == nullptr ? KES_CONNREFUSED
                                                                              : KES_SUCCESS;
}

kes_result neverFails(const qel_client*) {
    return KES_SUCCESS;
}

kes_log* logOf(const qel_client* client) {
    return client != nullptr && client->env != nullptr ? client->env->log : nullptr;
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

// Notifications whose later occurrences add nothing while an earlier one
// waits: the listeners read the objects, which hold the newest records.
bool coalescable(int code) {
    return code != QEL_CLIENT_EVENT_CONNECTION;
}

} // namespace

bool qelClientLockHeld() {
    return t_locksHeld > 0;
}

// m_mutex held by the GUI thread for the manager client's sake. What the
// manager client reports meanwhile is recorded, not delivered; the caller
// delivers once this is gone.
class QelClient::Locked {
public:
    explicit Locked(QelClient* client) : m_client(client) {
        m_client->m_mutex.Lock();
        ++t_locksHeld;
        m_client->m_locked = true;
    }
    ~Locked() {
        m_client->m_locked = false;
        --t_locksHeld;
        m_client->m_mutex.Unlock();
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    QelClient* m_client;
};

QelClient::QelClient(QelFactory* factory)
    : m_thread(nullptr), m_factory(factory), m_managerClient(nullptr), m_processingPending(0),
      m_lostContact(0), m_info(nullptr), m_options(nullptr), m_state(nullptr),
      m_threadObject(nullptr), m_warnings(nullptr), m_nextNotice(0), m_locked(false),
      m_delivering(false), m_checkConnection(false), m_stopped(false),
      m_lostContactTold(false), m_deferred{DEFERRED_CONFIG, DEFERRED_CONFIG}, m_deferredCount(0) {
    std::memset(&m_wantedConfig, 0, sizeof m_wantedConfig);
    m_notices.reserve(k_noticesReserved);
}

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
    const kes_result result = waitFor(&isConnected, &connectRefused);
    if (result == KES_CONNREFUSED) {
        kes_log_printf(logOf(m_managerClient), KES_LOG_ERROR,
                       "%s: the manager refused the connection\n", "QelClient::waitForConnection");
    }
    return result;
}

kes_result QelClient::waitForOptions() {
    return waitFor(&hasOptions, &neverFails);
}

kes_result QelClient::waitForState() {
    return waitFor(&hasState, &neverFails);
}

// Drives the manager client on this thread until `condition` holds, for at
// most QEL_STARTUP_WAIT, or until `failure` names a reason why it never
// will. A condition that holds already returns at once, without touching the
// socket. No thread runs yet, so no lock is taken and what arrives is
// delivered as it arrives.
kes_result QelClient::waitFor(uint32_t (*condition)(const qel_client* client),
                              kes_result (*failure)(const qel_client* client)) {
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
        if (condition(m_managerClient) == 0) {
            result = failure(m_managerClient);
            if (result != KES_SUCCESS) {
                return result;
            }
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
    if (m_stopped || m_managerClient == nullptr) {
        return KES_INVALIDSTATE;
    }
    qel_config record;
    std::memset(&record, 0, sizeof record);
    const qel_options* options = m_options != nullptr ? m_options->getRecord() : nullptr;
    if (!config.toRecord(options, &record)) {
        return KES_INVALIDDATA;
    }
    kes_result result;
    {
        Locked lock(this);
        if (m_managerClient->pending == nullptr) {
            result = qel_client_set_system_config(&record, m_managerClient);
        } else if ((m_managerClient->flags & QEL_CLIENT_OPTIONS_VALID) != 0 &&
                   !qel_config_is_valid(&m_managerClient->options, &record)) {
            result = KES_INVALIDDATA;
        } else {
            // Only one request may be outstanding: this one follows its
            // answer, unless a newer one replaces it first.
            m_wantedConfig = record;
            defer(DEFERRED_CONFIG);
            result = KES_SUCCESS;
        }
    }
    deliverNotifications();
    return result;
}

kes_result QelClient::clearSystemError() {
    if (m_stopped || m_managerClient == nullptr) {
        return KES_INVALIDSTATE;
    }
    kes_result result = KES_SUCCESS;
    {
        Locked lock(this);
        if (m_managerClient->pending == nullptr) {
            result = qel_client_clear_system_error(m_managerClient);
        } else {
            defer(DEFERRED_CLEAR);
        }
    }
    deliverNotifications();
    return result;
}

// Keeps `request` in the order it was first kept; kept again, it keeps its
// place.
void QelClient::defer(Deferred request) {
    for (size_t i = 0; i < m_deferredCount; ++i) {
        if (m_deferred[i] == request) {
            return;
        }
    }
    m_deferred[m_deferredCount++] = request;
}

// Sends the oldest kept request now that none is outstanding; one that
// cannot be sent (the options changed under a kept configuration, say) is
// dropped with a log line and the next one is tried.
void QelClient::sendDeferred() {
    while (m_deferredCount > 0 && !m_stopped && m_managerClient != nullptr &&
           m_managerClient->pending == nullptr) {
        const Deferred request = m_deferred[0];
        m_deferred[0] = m_deferred[1];
        --m_deferredCount;
        const kes_result result =
            request == DEFERRED_CONFIG
                ? qel_client_set_system_config(&m_wantedConfig, m_managerClient)
                : qel_client_clear_system_error(m_managerClient);
        if (result != KES_SUCCESS) {
            char text[KES_RESULT_DESCRIBE_SIZE];
            kes_log_printf(logOf(m_managerClient), KES_LOG_WARNING,
                           "%s: the kept %s was not sent: %s\n", "QelClient::sendDeferred",
                           request == DEFERRED_CONFIG ? "configuration" : "CLEAR SYSTEM ERROR",
                           kes_result_describe(result, text));
        }
    }
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
    record(Notice::EVENT, code);
    if (code == QEL_CLIENT_EVENT_REQUEST_DONE) {
        sendDeferred();
    }
    deliverNotifications();
}

// Queues a notification. While a delivery runs (a listener may be inside a
// box), a notification that one already waiting makes redundant is dropped.
void QelClient::record(Notice::Kind kind, int code) {
    if (m_delivering && kind == Notice::EVENT && coalescable(code)) {
        for (size_t i = m_nextNotice; i < m_notices.size(); ++i) {
            if (m_notices[i].kind == kind && m_notices[i].code == code) {
                return;
            }
        }
    }
    m_notices.push_back(Notice{kind, code});
}

// Tells what was recorded, oldest first, until nothing is left; then, after a
// thread event, gives up a lost connection. Does nothing while the lock is
// held or another delivery runs further up the stack: that one goes on
// until everything recorded meanwhile has been told, so nobody who is still
// running is told again.
void QelClient::deliverNotifications() {
    if (m_locked || m_delivering) {
        return;
    }
    wxASSERT_MSG(!qelClientLockHeld(), wxS("QelClient: listeners run with a client's lock held"));
    m_delivering = true;
    for (;;) {
        if (m_nextNotice < m_notices.size()) {
            const Notice notice = m_notices[m_nextNotice++];
            if (m_nextNotice == m_notices.size()) {
                m_notices.clear();
                m_nextNotice = 0;
            }
            deliver(notice);
            continue;
        }
        if (!m_checkConnection) {
            break;
        }
        m_checkConnection = false;
        if (m_lostContact.load() != 0) {
            if (!m_lostContactTold) {
                m_lostContactTold = true;
                if (m_warnings != nullptr) {
                    m_warnings->onLostContact(QEL_LOST_CONTACT_SLEEP);
                }
                stop();
                // Every window shows what the client now offers: after the
                // DISCONNECT the records are gone, and with them the data.
                record(Notice::REFRESH, 0);
            }
        } else if (m_managerClient == nullptr || m_managerClient->status == TESK2_DISCONNECTED) {
            stop();
        }
    }
    m_delivering = false;
}

void QelClient::deliver(const Notice& notice) {
    // A listener may add or remove listeners: the length is read every step.
    switch (notice.kind) {
    case Notice::EVENT:
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            m_listeners[i]->onClientEvent(notice.code);
        }
        break;
    case Notice::RESTART_WARNING:
        if (m_warnings != nullptr) {
            m_warnings->onLostContact(QEL_LOST_CONTACT_DISCONNECTED);
        }
        break;
    case Notice::REFRESH:
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_INFO);
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_OPTIONS);
            m_listeners[i]->onClientEvent(QEL_CLIENT_EVENT_STATE);
        }
        break;
    }
}

void QelClient::deliverTo(QelClientListener* listener, int code) {
    if (listener == nullptr || m_locked || m_delivering) {
        return;
    }
    m_delivering = true;
    listener->onClientEvent(code);
    m_delivering = false;
    deliverNotifications();
}

// The manager connection has dropped. If the client thread has not run for
// longer than the gap, the process was suspended: the sleep warning follows
// after the processing. Otherwise the user is told to restart, once: the
// warning is recorded ahead of the connection notification.
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
        record(Notice::RESTART_WARNING, 0);
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
        // It never ran: Delete lets it end where it waits to start. Where
        // that leaves it unjoined (said by "misc error"), Wait joins it.
        m_threadObject = nullptr;
        m_thread = nullptr;
        if (thread->Delete(nullptr, wxTHREAD_WAIT_BLOCK) == wxTHREAD_MISC_ERROR) {
            thread->Wait(wxTHREAD_WAIT_BLOCK);
        }
        delete thread;
        return KES_SYSTEM;
    }
    return KES_SUCCESS;
}

// Joins and deletes the thread object, exactly once. The thread is asked to
// end and ends at its next check (after at most one socket wait, half a
// second); Wait joins it, whether it was still running or had ended by
// itself. (The toolkit's Delete is not used: on Windows it already joins and
// frees the thread, and a Wait after it fails.)
void QelClient::releaseThread() {
    QelClientThread* thread = m_threadObject;
    if (thread == nullptr) {
        return;
    }
    m_threadObject = nullptr;
    thread->requestEnd();
    thread->Wait(wxTHREAD_WAIT_BLOCK);
    m_thread = nullptr;
    delete thread;
}

void QelClient::stop() {
    wxASSERT_MSG(!m_locked, wxS("QelClient::stop with the client's lock held"));
    releaseThread();
    m_stopped = true;
    m_deferredCount = 0;
    if (m_managerClient != nullptr) {
        Locked lock(this);
        m_managerClient->callback = nullptr;
        // Without the DISCONNECT, which the protocol refuses while a request
        // waits, the manager would keep the panel's place for 31 s.
        if (m_managerClient->pending != nullptr && m_managerClient->status != TESK2_DISCONNECTED) {
            qel_client_abandon_request(m_managerClient);
        }
        qel_client_disconnect(m_managerClient);
    }
}

kes_result QelClient::onThreadEvent() {
    kes_result result = KES_SUCCESS;
    if (m_processingPending.load() != 0 && m_managerClient != nullptr) {
        Locked lock(this);
        m_processingPending = 0;
        // A bounded batch: a flood of events must not keep the user's input
        // waiting. What is left makes the client thread post again.
        result = tesk2_client_process_some(m_managerClient->protocol, QEL_PROCESSING_BATCH);
    }
    m_checkConnection = true;
    deliverNotifications();
    return result;
}

kes_result QelClient::getWaitInfo(QelClientWaitInfo* info) {
    wxMutexLocker lock(m_mutex);
    ++t_locksHeld;
    info->connectionStatus =
        m_managerClient != nullptr ? static_cast<int>(m_managerClient->status) : 0;
    if (info->connectionStatus != 0) {
        info->socket = m_managerClient->socket;
        tesk2_client_next_deadline(m_managerClient->protocol, &info->nextDeadline);
        info->processingPending = m_processingPending.load();
    }
    --t_locksHeld;
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
// pending-event queue; the GUI thread handles it later. It is a thread event,
// the toolkit's event for that purpose, which its base library holds: the
// command events belong to its window library.
void QelClient::postClientEvent(wxEvtHandler* frame) {
    wxThreadEvent event(QEL_EVT_CLIENT, 0);
    event.SetEventObject(frame);
    frame->AddPendingEvent(event);
}
