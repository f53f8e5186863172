// The one object through which the windows talk to the manager. It owns the
// manager client record, the info, options and state objects that wrap the
// records the manager sends, and the thread that watches the manager socket;
// it keeps the listeners that want to hear about changes. At start-up it
// drives the manager client itself in three waits; afterwards the client
// thread wakes the GUI thread, which processes under m_mutex.
//
// The client is the engine below the windows: it includes no window header
// and shows nothing. What the manager client reports while m_mutex is held is
// recorded as notifications; they are delivered to the listeners (and lost
// contact to the warnings' owner) only once the lock is released. No listener
// and no message box ever runs with m_mutex held, so a box left open for
// minutes never keeps the client thread from posting, keepalives from
// leaving or answers from being read. Debug builds assert it.
#pragma once

#include "QelClientWarnings.h"

#include "kes_env.h"
#include "kes_result.h"
#include "kes_socket.h"
#include "kes_time.h"
#include "qel_client.h"

#include <wx/thread.h>

#include <atomic>
#include <cstdint>
#include <vector>

class QelClientListener;
class QelClientThread;
class QelConfig;
class QelFactory;
class QelInfo;
class QelOptions;
class QelState;
class wxEvtHandler;

// The most datagrams one processing event handles on the GUI thread.
constexpr size_t QEL_PROCESSING_BATCH = 32;

// The longest each start-up wait takes.
constexpr kes_time QEL_STARTUP_WAIT{5, 500000};

// What the client thread needs to know for one pass, taken under m_mutex.
// Only connectionStatus is filled while the manager client is disconnected.
struct QelClientWaitInfo {
    int connectionStatus;  // 0 disconnected, 1 connecting, 2 connected
    kes_socket socket;     // the manager socket
    kes_time nextDeadline; // next keepalive action; {0, 0} when none
    int processingPending; // a posted processing event is not handled yet
};

// True while the calling thread holds the lock of some client. Listeners and
// message boxes assert that it is false.
bool qelClientLockHeld();

class QelClient {
public:
    explicit QelClient(QelFactory* factory);
    QelClient(const QelClient&) = delete;
    QelClient& operator=(const QelClient&) = delete;
    // Deletes the model objects and frees the manager client record.
    // stop() must have run before; a thread object still held is joined and
    // released here all the same.
    virtual ~QelClient();

    // Creates the manager client record for `env` into *client.
    virtual kes_result initManagerClient(kes_env* env, qel_client** client) = 0;

    // Where initManagerClient stores the record: the start-up passes it.
    qel_client** getManagerClientAddress() { return &m_managerClient; }

    // Start-up, in this order, on the main thread.
    kes_result createModel();
    kes_result connect();
    kes_result waitForConnection();
    kes_result waitForOptions();
    kes_result waitForState();

    // Appends; the same listener may be added twice and is then told twice.
    void addListener(QelClientListener* listener);
    // Removes the first occurrence; nothing happens when there is none.
    void removeListener(QelClientListener* listener);
    // The listeners in the order they are told.
    const std::vector<QelClientListener*>& getListeners() const { return m_listeners; }

    // Who is told when contact is lost (not owned; null: nobody, and the
    // loss is only logged by the layers below).
    void setWarnings(QelClientWarnings* warnings) { m_warnings = warnings; }
    QelClientWarnings* getWarnings() const { return m_warnings; }

    // Tells `listener` `code` as a delivery of the client's own, so that
    // what arises while it runs (a box it shows, say) waits until it
    // returns. The start-up uses it for the first look at the state.
    void deliverTo(QelClientListener* listener, int code);

    // The objects, or null while the manager client holds no valid record.
    QelInfo* getInfo() const;
    QelOptions* getOptions() const;
    QelState* getState() const;
    qel_client* getManagerClient() const { return m_managerClient; }

    // Converts the configuration against the current options and sends it.
    // While a request is outstanding it is kept instead and sent as soon as
    // the answer arrives; a newer one replaces it (only the newest wanted
    // configuration is sent). KES_INVALIDDATA, with nothing sent or kept,
    // when it does not convert or is not valid against the options;
    // KES_INVALIDSTATE once stopped.
    kes_result setConfig(const QelConfig& config);
    // Sends CLEAR SYSTEM ERROR, or, while a request is outstanding, once the
    // answer has arrived. Kept requests go out in the order they were first
    // kept. KES_INVALIDSTATE once stopped.
    kes_result clearSystemError();

    // A notification of the manager client (a QelClientEvent code): updates
    // the model objects and records it for the listeners. It is delivered at
    // once unless the lock is held or a delivery is running; then it waits
    // for the end of that.
    void onManagerEvent(int code);
    static void managerCallback(qel_client* client, QelClientEvent event);

    // GUI thread. startThread: KES_INVALIDSTATE while a thread runs.
    kes_result startThread(wxEvtHandler* frame);
    // Ends and joins the client thread, removes the owner callback, gives up
    // an outstanding request and what was kept to follow it, and sends
    // DISCONNECT. Never called with m_mutex held. The client sends nothing
    // more afterwards.
    void stop();
    // Handles one QEL_EVT_CLIENT event: processes what arrived under
    // m_mutex, then, unless a delivery is running further up the stack,
    // delivers. The result of the processing, if any.
    kes_result onThreadEvent();

    // Client thread.
    kes_result getWaitInfo(QelClientWaitInfo* info);
    void requestProcessing(wxEvtHandler* frame);
    void reportLostContact(wxEvtHandler* frame);

private:
    friend class QelClientThread;
    class Locked;

    // One recorded notification.
    struct Notice {
        enum Kind : uint8_t {
            EVENT,           // `code` to every listener
            RESTART_WARNING, // the connection dropped while awake
            REFRESH,         // info, options and state to each listener in turn
        };
        Kind kind;
        int code;
    };

    // A request kept until the outstanding one is answered.
    enum Deferred : uint8_t { DEFERRED_CONFIG, DEFERRED_CLEAR };

    kes_result waitFor(uint32_t (*condition)(const qel_client* client),
                       kes_result (*failure)(const qel_client* client));
    void defer(Deferred request);
    void sendDeferred();
    void record(Notice::Kind kind, int code);
    void deliverNotifications();
    void deliver(const Notice& notice);
    void checkConnectionLoss();
    void postClientEvent(wxEvtHandler* frame);
    void releaseThread();

    // The running client thread: set by startThread, cleared by the thread
    // as its last act (and by releaseThread). Atomic, because the GUI thread
    // reads it while the client thread may be clearing it; no lock is taken
    // for it, so stop never needs m_mutex.
    std::atomic<QelClientThread*> m_thread;
    std::vector<QelClientListener*> m_listeners;
    QelFactory* m_factory;
    qel_client* m_managerClient;
    wxMutex m_mutex;
    // Set by the client thread under m_mutex and tested by the GUI thread
    // before it locks, so both are atomic.
    std::atomic<int> m_processingPending;
    std::atomic<int> m_lostContact;
    QelInfo* m_info;
    QelOptions* m_options;
    QelState* m_state;
    // The joinable thread object, owned from startThread until releaseThread
    // joins and deletes it (from stop, from the next startThread, or from the
    // destructor): the one place the object is released, whether the thread
    // was asked to end or ended by itself. GUI thread only.
    QelClientThread* m_threadObject;

    // GUI thread only from here on.
    QelClientWarnings* m_warnings;
    // Recorded and not yet delivered, oldest first from m_nextNotice.
    std::vector<Notice> m_notices;
    size_t m_nextNotice;
    bool m_locked;          // this client's lock is held by the GUI thread
    bool m_delivering;      // a listener or the warnings' owner is being told
    bool m_checkConnection; // a thread event asks for the lost-contact checks
    bool m_stopped;         // stop has run: nothing is sent any more
    bool m_lostContactTold; // the sleep warning was asked for
    // Requests kept while one is outstanding, oldest first (at most one of
    // each), and the newest wanted configuration.
    Deferred m_deferred[2];
    size_t m_deferredCount;
    qel_config m_wantedConfig;
};
