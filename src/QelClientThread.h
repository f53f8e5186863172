// The thread that watches the manager socket, the keepalive deadline and the
// wall clock. It never calls into the manager client beyond the snapshot
// QelClient::getWaitInfo takes, and never touches a window: when there is
// work it posts one QEL_EVT_CLIENT event to the main window, whose handler
// calls QelClient::onThreadEvent on the GUI thread.
#pragma once

#include "kes_time.h"

#include <wx/event.h>
#include <wx/thread.h>

#include <atomic>
#include <cstdint>

class QelClient;

// The longest wait for the manager socket in one pass.
constexpr kes_time QEL_THREAD_SELECT_TIME{0, 500000};
// The pause of a pass while a posted event is not handled yet.
constexpr kes_time QEL_THREAD_BUSY_SLEEP{0, 10000};
// A clock gap longer than this between two passes: the process was suspended.
constexpr kes_time QEL_LOST_CONTACT_GAP{30, 0};

// The event the client thread posts: id 0, the main window as event object.
wxDECLARE_EVENT(QEL_EVT_CLIENT, wxThreadEvent);

// The client thread's last reading of the clock. The thread writes it and the
// connection-loss check reads it on the GUI thread, so the time is kept as one
// atomic count of microseconds: a reader never sees half an update.
class QelClientTick {
public:
    constexpr QelClientTick() : m_microseconds(0) {}
    QelClientTick(const QelClientTick&) = delete;
    QelClientTick& operator=(const QelClientTick&) = delete;

    kes_time load() const;
    void store(const kes_time& t);

private:
    std::atomic<int64_t> m_microseconds;
};

// {0, 0} until the client thread has run.
extern QelClientTick g_clientThreadTick;

class QelClientThread : public wxThread {
public:
    // Joinable. `frame` receives the posted events; neither is owned.
    QelClientThread(QelClient* client, wxEvtHandler* frame);

    // Asks the thread to end at its next check; safe from any thread. The
    // owner then joins it with Wait.
    void requestEnd() { m_endRequested = true; }

protected:
    ExitCode Entry() override;

private:
    QelClient* m_client;
    wxEvtHandler* m_frame;
    std::atomic<bool> m_endRequested{false};
};
