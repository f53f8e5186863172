#include "QelClientThread.h"

#include "QelClient.h"

#include "kes_socket.h"

wxDEFINE_EVENT(QEL_EVT_CLIENT, wxThreadEvent);

QelClientTick g_clientThreadTick;

namespace {

constexpr int64_t k_microsecondsPerSecond = 1000000;

kes_time now() {
    kes_time t{0, 0};
    kes_time_now(&t);
    return t;
}

} // namespace

kes_time QelClientTick::load() const {
    const int64_t us = m_microseconds.load();
    int64_t seconds = us / k_microsecondsPerSecond;
    int64_t micros = us % k_microsecondsPerSecond;
    if (micros < 0) {
        micros += k_microsecondsPerSecond;
        --seconds;
    }
    return kes_time{seconds, static_cast<int32_t>(micros)};
}

void QelClientTick::store(const kes_time& t) {
    m_microseconds.store(t.seconds * k_microsecondsPerSecond + t.microseconds);
}

QelClientThread::QelClientThread(QelClient* client, wxEvtHandler* frame)
    : wxThread(wxTHREAD_JOINABLE), m_client(client), m_frame(frame) {}

wxThread::ExitCode QelClientThread::Entry() {
    kes_time t = now();
    while (!m_endRequested && !TestDestroy()) {
        g_clientThreadTick.store(t);
        t = now();
        kes_time gap = t;
        const kes_time tick = g_clientThreadTick.load();
        kes_time_subtract(&gap, &tick);
        if (kes_time_compare(&gap, &QEL_LOST_CONTACT_GAP) > 0) {
            m_client->reportLostContact(m_frame);
            break;
        }

        QelClientWaitInfo info{0, KES_INVALID_SOCKET, {0, 0}, 0};
        m_client->getWaitInfo(&info);
        g_clientThreadTick.store(now());
        if (info.connectionStatus == 0) {
            break;
        }
        t = now();

        if (info.processingPending) {
            // The GUI thread has not taken the last event yet: no second one.
            kes_sleep(&QEL_THREAD_BUSY_SLEEP);
            continue;
        }
        const kes_time& deadline = info.nextDeadline;
        if (deadline.seconds != 0 || deadline.microseconds != 0) {
            const int64_t d = deadline.seconds == t.seconds
                                  ? int64_t{deadline.microseconds} - t.microseconds
                                  : deadline.seconds - t.seconds;
            if (d <= 0) {
                m_client->requestProcessing(m_frame);
                continue;
            }
        }
        if (kes_socket_wait_readable(info.socket, &QEL_THREAD_SELECT_TIME) == KES_SUCCESS) {
            m_client->requestProcessing(m_frame);
        }
    }
    // The last act: the client sees no running thread from here on. The
    // object itself stays with the client, which joins and deletes it.
    QelClientThread* self = this;
    m_client->m_thread.compare_exchange_strong(self, nullptr);
    return 0;
}
