// The client thread and the GUI side of its events, on the test clock. The
// thread's socket waits are real (at most half a second each); everything
// that depends on time reads the test clock, whose sleeps can be held so that
// the test knows where the thread stands.
#include "bridge_support.h"

#include "QelClientThread.h"
#include "QelState.h"

#include "qel_codec.h"

#include "tesk2_client.h"
#include "test_clock.h"
#include "wx_test_main.h"

#include <wx/event.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qeltest {
namespace {

using Log = std::vector<std::string>;

// Waits without handling events, so that posted events stay queued.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The test clock as the client thread sees it. Readings come from the test
// clock and those the client thread takes are counted (three per pass, one
// before the first); a sleep does not move the clock but yields for a
// millisecond, and while the gate is closed it holds the thread until the
// test opens it.
class ThreadClock {
public:
    ThreadClock() {
        m_clock.now = &ThreadClock::onNow;
        m_clock.sleep = &ThreadClock::onSleep;
        m_clock.context = this;
        kes_clock_install(&m_clock);
    }
    ~ThreadClock() {
        open();
        kes_clock_install(nullptr);
    }

    TestClock& time() { return m_time; }
    unsigned readings() const { return m_readings; }
    unsigned sleeps() const { return m_sleeps; }

    void close() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = true;
    }
    void open() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_closed = false;
        m_changed.notify_all();
    }
    bool waitHeld() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [this] { return m_held > 0; });
    }

private:
    static kes_result onNow(void* context, kes_time* t) {
        auto* self = static_cast<ThreadClock*>(context);
        if (!wxThread::IsMain()) {
            ++self->m_readings;
        }
        *t = self->m_time.now();
        return KES_SUCCESS;
    }
    static kes_result onSleep(void* context, const kes_time*) {
        auto* self = static_cast<ThreadClock*>(context);
        std::unique_lock<std::mutex> lock(self->m_lock);
        ++self->m_sleeps;
        if (self->m_closed) {
            ++self->m_held;
            self->m_changed.notify_all();
            self->m_changed.wait_for(lock, std::chrono::seconds(10),
                                     [self] { return !self->m_closed; });
            --self->m_held;
        } else {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return KES_SUCCESS;
    }

    TestClock m_time; // installed first, then replaced by this clock
    kes_clock m_clock{};
    std::atomic<unsigned> m_readings{0};
    std::atomic<unsigned> m_sleeps{0};
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_closed = false;
    unsigned m_held = 0;
};

// The main window's part: counts what the thread posts (on the thread) and
// hands each event to the client (on this, the GUI, thread).
class ThreadTarget : public wxEvtHandler {
public:
    ThreadTarget(QelClient* client, ThreadClock* clock) : m_client(client), m_clock(clock) {
        Bind(QEL_EVT_CLIENT, &ThreadTarget::onClientThread, this);
    }
    void AddPendingEvent(const wxEvent& event) override {
        if (m_posted.fetch_add(1) == 0) {
            m_readingsAtFirstPost = m_clock->readings();
        }
        wxEvtHandler::AddPendingEvent(event);
    }

    int posted() const { return m_posted; }
    unsigned readingsAtFirstPost() const { return m_readingsAtFirstPost; }
    std::vector<kes_result> results;

private:
    void onClientThread(wxThreadEvent& event) {
        EXPECT_EQ(event.GetId(), 0);
        EXPECT_EQ(event.GetEventObject(), this);
        results.push_back(m_client->onThreadEvent());
        event.Skip();
    }

    QelClient* m_client;
    ThreadClock* m_clock;
    std::atomic<int> m_posted{0};
    std::atomic<unsigned> m_readingsAtFirstPost{0};
};

class ClientThread : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        m_target = std::make_unique<ThreadTarget>(m_client.get(), &m_clock);
    }
    void TearDown() override {
        m_clock.open();
        BridgeTest::TearDown(); // stops the thread before the target goes
        m_target.reset();
    }

    // Starts the thread and waits until it is in its first socket wait.
    void startThread() {
        ASSERT_EQ(m_client->startThread(m_target.get()), KES_SUCCESS);
        ASSERT_TRUE(waitUntil([this] { return m_clock.readings() >= 4; }));
    }
    // Waits until the thread has taken `passes` more passes.
    void waitPasses(unsigned passes) {
        const unsigned from = m_clock.readings();
        ASSERT_TRUE(waitUntil([&] { return m_clock.readings() >= from + 3 * passes; }));
    }
    // The manager sends a state; the thread posts; its next sleep is held
    // and the event handled, so the thread stands between two passes.
    void holdTheThreadBetweenPasses() {
        m_clock.close();
        m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE,
                       stateBody(stateWith(0, 100)));
        ASSERT_TRUE(m_clock.waitHeld());
        ASSERT_TRUE(pumpUntil([this] { return m_target->results.size() == 1; }));
    }

    ThreadClock m_clock;
    std::unique_ptr<ThreadTarget> m_target;
};

TEST_F(ClientThread, WithoutTrafficPostsNothing) {
    startUp();
    startThread();
    waitPasses(2);
    EXPECT_EQ(m_target->posted(), 0);
}

TEST_F(ClientThread, AKeepaliveDeadlineThatHasComePostsOneEventAtOnce) {
    startUp();
    m_clock.time().advance(11); // the 10 s keepalive is due
    ASSERT_EQ(m_client->startThread(m_target.get()), KES_SUCCESS);
    ASSERT_TRUE(waitUntil([this] { return m_target->posted() == 1; }));
    EXPECT_EQ(m_target->readingsAtFirstPost(), 4u) << "in the first pass, before any socket wait";
    const unsigned sleeps = m_clock.sleeps();
    ASSERT_TRUE(waitUntil([&] { return m_clock.sleeps() >= sleeps + 3; }));
    EXPECT_EQ(m_target->posted(), 1) << "no second event while one is outstanding";

    ASSERT_TRUE(pumpUntil([this] { return m_target->results.size() == 1; }));
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_KEEPALIVE}));
    // The check that sent the keepalive may still name the deadline it met;
    // once the next one is 10 s away, the thread stays quiet.
    for (int i = 0; i < 2; ++i) {
        waitPasses(1);
        pumpEvents();
    }
    const int settled = m_target->posted();
    EXPECT_LE(settled, 2);
    waitPasses(2);
    EXPECT_EQ(m_target->posted(), settled);
    EXPECT_EQ(received(), std::vector<uint16_t>{}) << "one keepalive only";
}

TEST_F(ClientThread, TwoDatagramsGiveOneEventAndOneProcessingCall) {
    RecordingListener a(&m_log, "a");
    startUp();
    m_client->addListener(&a);
    startThread();
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(stateWith(0, 100)));
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(stateWith(0, 10)));
    ASSERT_TRUE(waitUntil([this] { return m_target->posted() == 1; }));
    const unsigned sleeps = m_clock.sleeps();
    ASSERT_TRUE(waitUntil([&] { return m_clock.sleeps() >= sleeps + 3; }));

    ASSERT_TRUE(pumpUntil([this] { return m_target->results.size() == 1; }));
    EXPECT_EQ(m_log, (Log{"a:4", "a:4"})) << "both states in one processing call";
    EXPECT_EQ(m_client->getState()->getRecord()->link_speed, 10u);
    waitPasses(2);
    EXPECT_EQ(m_target->posted(), 1);
    EXPECT_EQ(m_target->results, (std::vector<kes_result>{KES_SUCCESS}));
}

// Only a forward gap of more than 30 s counts.
class ClientThreadClockShift : public ClientThread,
                               public ::testing::WithParamInterface<kes_time> {};

TEST_P(ClientThreadClockShift, ChangesNothing) {
    startUp();
    startThread();
    holdTheThreadBetweenPasses();
    m_clock.time().advance(GetParam().seconds, GetParam().microseconds);
    m_clock.open();
    waitPasses(2);
    // Forward, the keepalive may have become due; that is processing, not
    // lost contact, which would show a box and end the thread.
    ASSERT_TRUE(
        pumpUntil([this] { return m_target->results.size() == size_t(m_target->posted()); }));
    EXPECT_EQ(managerClient()->status, TESK2_CONNECTED);
    EXPECT_EQ(m_client->startThread(m_target.get()), KES_INVALIDSTATE) << "still running";
}

INSTANTIATE_TEST_SUITE_P(BackAnHourOrForwardExactlyTheGap, ClientThreadClockShift,
                         ::testing::Values(kes_time{-3600, 0}, kes_time{30, 0}));

TEST_F(ClientThread, AGapOfMoreThanThirtySecondsIsLostContact) {
    RecordingListener a(&m_log, "a"), b(&m_log, "b");
    startUp();
    m_client->addListener(&a);
    m_client->addListener(&b);
    startThread();
    holdTheThreadBetweenPasses();
    m_log.clear();

    RecordingWarnings warnings(&m_log);
    m_client->setWarnings(&warnings);
    bool disconnectedBeforeTheWarning = true;
    warnings.onWarning = [&](QelLostContact) { disconnectedBeforeTheWarning = !m_manager.idle(); };
    m_clock.time().advance(30, 1);
    m_clock.open();
    ASSERT_TRUE(pumpUntil([this] { return m_target->results.size() == 2; }));
    EXPECT_EQ(m_target->posted(), 2);
    EXPECT_FALSE(disconnectedBeforeTheWarning);
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}));
    EXPECT_EQ(m_log, (Log{"sleep", "a:2", "a:3", "a:4", "b:2", "b:3", "b:4"}));
    EXPECT_EQ(m_client->getInfo(), nullptr);
    EXPECT_EQ(m_client->getOptions(), nullptr);
    EXPECT_EQ(m_client->getState(), nullptr);

    const auto start = std::chrono::steady_clock::now();
    m_client->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100))
        << "no thread left to wait for";
}

TEST_F(ClientThread, AManagerThatGoesAwayIsToldOnceAndStopsTheClient) {
    RecordingListener a(&m_log, "a");
    startUp();
    m_client->addListener(&a);
    startThread();
    RecordingWarnings warnings(&m_log);
    m_client->setWarnings(&warnings);
    m_manager.close();
    ASSERT_EQ(m_client->clearSystemError(), KES_SUCCESS);
    ASSERT_TRUE(pumpUntil([this] { return m_target->results.size() == 1; }));
    EXPECT_EQ(m_target->results[0], KES_CONNRESET);
    // The warning comes first, before the listeners hear of the connection.
    EXPECT_EQ(m_log, (Log{"a:2", "a:3", "a:4", "restart", "a:1"}));
    EXPECT_EQ(managerClient()->callback, nullptr) << "stopped";
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ(m_log.size(), 5u) << "told once";
    EXPECT_EQ(m_target->posted(), 1);
}

TEST_F(ClientThread, StartingASecondThreadIsRefused) {
    startUp();
    startThread();
    EXPECT_EQ(m_client->startThread(m_target.get()), KES_INVALIDSTATE);
    waitPasses(1);
    EXPECT_EQ(m_target->posted(), 0);
}

TEST_F(ClientThread, StopEndsTheThreadWithinHalfASecondAndDisconnects) {
    startUp();
    startThread();
    const auto start = std::chrono::steady_clock::now();
    m_client->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_EQ(managerClient()->callback, nullptr);
    EXPECT_EQ(managerClient()->status, TESK2_DISCONNECTED);
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}));
    m_client->stop();
    EXPECT_TRUE(received().empty()) << "a stopped client sends nothing more";
}

TEST_F(ClientThread, StopWithARequestPendingGivesItUpAndDisconnects) {
    startUp();
    ASSERT_EQ(m_client->clearSystemError(), KES_SUCCESS);
    startThread();
    m_client->stop();
    EXPECT_EQ(received(),
              (std::vector<uint16_t>{QEL_OPCODE_CLEAR_SYSTEM_ERROR, TESK2_OPCODE_DISCONNECT}));
}

} // namespace
} // namespace qeltest
