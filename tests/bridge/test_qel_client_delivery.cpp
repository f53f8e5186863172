// How the client tells its listeners: never with its lock held, in the order
// things arose and in registration order, and never to a listener that is
// still running: what arises while one is inside a box waits until it
// returns, the newest of each kind standing for those before it. Also the
// subscription that keeps a listener registered with one client at a time.
#include "bridge_support.h"

#include "QelClientSubscription.h"
#include "QelConfig.h"
#include "QelState.h"

#include "qel_codec.h"
#include "tesk2_client.h"

#include <wx/event.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

namespace qeltest {
namespace {

using Log = std::vector<std::string>;

// Where the client would post its processing events; the tests handle them
// by calling onThreadEvent themselves.
class NoPosting : public wxEvtHandler {
public:
    void AddPendingEvent(const wxEvent&) override {}
};

class Delivery : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        startUp();
        m_client->setWarnings(&m_warnings);
    }

    // The manager sends a state with `speed` and the client handles it as
    // its thread's event makes it do.
    void stateArrives(uint32_t speed) {
        m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE,
                       stateBody(stateWith(0, speed)));
        processingEvent();
    }
    void optionsArrive(uint16_t extraChannelCount) {
        qel_options options = sampleOptions();
        options.channel_counts.entries[options.channel_counts.count++] = extraChannelCount;
        m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_OPTIONS, optionsBody(options));
        processingEvent();
    }
    void processingEvent() {
        ASSERT_TRUE(waitReadable(managerClient()->socket));
        m_client->requestProcessing(&m_frame);
        m_client->onThreadEvent();
    }

    // A listener that logs, tracks how deeply it is running, and does
    // `inside` while it runs the first time (as a box would let it happen).
    struct Boxed : RecordingListener {
        Boxed(Log* log, const std::string& name, int* deepest)
            : RecordingListener(log, name), m_deepest(deepest) {
            onEvent = [this, log, name](int) {
                ++m_depth;
                *m_deepest = std::max(*m_deepest, m_depth);
                if (inside) {
                    auto once = std::move(inside);
                    inside = nullptr;
                    once();
                    log->push_back(name + " returns");
                }
                --m_depth;
            };
        }
        std::function<void()> inside;

    private:
        int* m_deepest;
        int m_depth = 0;
    };

    NoPosting m_frame;
    RecordingWarnings m_warnings{&m_log};
    int m_deepest = 0;
};

// Every way a listener or the warnings' owner is told: each sees the lock
// free, both by the flag it asserts on and by the client thread's snapshot,
// which takes the lock and would wait for it.
TEST_F(Delivery, NoListenerAndNoWarningRunsWithTheLock) {
    int checks = 0;
    std::future<kes_result> snapshot;
    auto lockIsFree = [&] {
        ++checks;
        EXPECT_FALSE(qelClientLockHeld());
        snapshot = std::async(std::launch::async, [this] {
            QelClientWaitInfo info{0, KES_INVALID_SOCKET, {0, 0}, 0};
            return m_client->getWaitInfo(&info);
        });
        EXPECT_EQ(snapshot.wait_for(std::chrono::seconds(5)), std::future_status::ready)
            << "the client thread would wait for the lock";
    };
    RecordingListener listener(&m_log, "l");
    listener.onEvent = [&](int) { lockIsFree(); };
    m_warnings.onWarning = [&](QelLostContact) { lockIsFree(); };
    m_client->addListener(&listener);

    stateArrives(100);                                      // processing
    m_client->deliverTo(&listener, QEL_CLIENT_EVENT_STATE); // the start-up's first look
    std::unique_ptr<QelConfig> config(m_factory.createConfig());
    config->copyFrom(m_client->getState()->getConfig());
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    Datagram request;
    ASSERT_TRUE(m_manager.receive(request));
    m_manager.reply(request, TESK2_STATUS_RESPONSE, stateBody(stateWith(0, 10)));
    processingEvent();                     // its answer
    m_client->reportLostContact(&m_frame); // the thread saw a clock gap
    m_client->onThreadEvent();

    EXPECT_EQ(m_log, (Log{"l:4", "l:4", "l:4", "l:0", "sleep", "l:2", "l:3", "l:4"}));
    EXPECT_EQ(checks, 8);
    m_client->removeListener(&listener);
}

// The first listener is inside a box while the options and two states
// arrive: the second listener hears the first state once the box is closed,
// then both hear the options and one state, the newest, in that order.
TEST_F(Delivery, WhatArisesWhileAListenerRunsWaitsForItAndIsToldInOrder) {
    Boxed a(&m_log, "a", &m_deepest);
    Boxed b(&m_log, "b", &m_deepest);
    a.inside = [this] {
        optionsArrive(48);
        stateArrives(10);
        stateArrives(1000);
    };
    m_client->addListener(&a);
    m_client->addListener(&b);
    stateArrives(100);

    EXPECT_EQ(m_log, (Log{"a:4", "a returns", "b:4", "a:3", "b:3", "a:4", "b:4"}));
    EXPECT_EQ(m_deepest, 1) << "no listener was told while it ran";
    EXPECT_EQ(m_client->getState()->getRecord()->link_speed, 1000u) << "the newest state";
    EXPECT_EQ(m_client->getOptions()->getChannelCounts().Last(), "48");
    m_client->removeListener(&a);
    m_client->removeListener(&b);
}

// Outside a box nothing is merged: two states processed one after the other
// are two notifications.
TEST_F(Delivery, OutsideABoxEveryNotificationIsTold) {
    RecordingListener a(&m_log, "a");
    m_client->addListener(&a);
    stateArrives(100);
    stateArrives(10);
    EXPECT_EQ(m_log, (Log{"a:4", "a:4"}));
    m_client->removeListener(&a);
}

// The start-up's first look at the state is a delivery too: a box it opens
// holds back what arrives meanwhile.
TEST_F(Delivery, TheStartUpsFirstLookHoldsBackWhatArrivesWhileItRuns) {
    Boxed errors(&m_log, "e", &m_deepest);
    RecordingListener panel(&m_log, "p");
    errors.inside = [this] { stateArrives(10); };
    m_client->addListener(&errors);
    m_client->addListener(&panel);
    m_client->deliverTo(&errors, QEL_CLIENT_EVENT_STATE);
    EXPECT_EQ(m_log, (Log{"e:4", "e returns", "e:4", "p:4"}));
    EXPECT_EQ(m_deepest, 1);
    m_client->removeListener(&errors);
    m_client->removeListener(&panel);
}

// The thread reports a clock gap while a listener's box is open: the sleep
// warning, the DISCONNECT and the refresh follow once the box is closed.
TEST_F(Delivery, ALostContactDuringABoxIsToldAfterIt) {
    Boxed a(&m_log, "a", &m_deepest);
    bool disconnectedBeforeTheWarning = true;
    m_warnings.onWarning = [&](QelLostContact) {
        disconnectedBeforeTheWarning = !m_manager.idle();
    };
    a.inside = [this] {
        m_client->reportLostContact(&m_frame);
        m_client->onThreadEvent();
        EXPECT_TRUE(m_manager.idle()) << "no DISCONNECT while the box is open";
    };
    m_client->addListener(&a);
    stateArrives(100);
    EXPECT_EQ(m_log, (Log{"a:4", "a returns", "sleep", "a:2", "a:3", "a:4"}));
    EXPECT_FALSE(disconnectedBeforeTheWarning);
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}));
    EXPECT_EQ(m_client->getState(), nullptr);
    m_client->removeListener(&a);
}

// Once stopped, the client sends nothing on anybody's behalf: a box that a
// shutdown answered must not leave a request behind the DISCONNECT.
TEST_F(Delivery, AStoppedClientSendsNothingMore) {
    std::unique_ptr<QelConfig> config(m_factory.createConfig());
    config->copyFrom(m_client->getState()->getConfig());
    m_client->stop();
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}));
    EXPECT_EQ(m_client->setConfig(*config), KES_INVALIDSTATE);
    EXPECT_EQ(m_client->clearSystemError(), KES_INVALIDSTATE);
    EXPECT_TRUE(received().empty());
}

// A request made while one is outstanding is kept and sent once the answer
// has arrived; kept requests go out in the order they were first kept, and
// of the configurations only the newest.
TEST_F(Delivery, KeptRequestsFollowTheAnswerInTheOrderTheyWereKept) {
    std::unique_ptr<QelConfig> config(m_factory.createConfig());
    config->copyFrom(m_client->getState()->getConfig());
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    Datagram outstanding;
    ASSERT_TRUE(m_manager.receive(outstanding));
    ASSERT_EQ(outstanding.opcode, QEL_OPCODE_SET_CONFIG);

    ASSERT_EQ(m_client->clearSystemError(), KES_SUCCESS);
    config->m_latency = "5 ms";
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    config->m_latency = "1 ms"; // replaces the kept one, which keeps its place
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    config->m_latency = "3 ms"; // not offered: refused, and nothing is replaced
    EXPECT_EQ(m_client->setConfig(*config), KES_INVALIDDATA);
    EXPECT_TRUE(m_manager.idle()) << "one request at a time";

    m_manager.reply(outstanding, TESK2_STATUS_RESPONSE, stateBody(stateWith(0)));
    processingEvent();
    Datagram clear;
    ASSERT_TRUE(m_manager.receive(clear));
    EXPECT_EQ(clear.opcode, QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    EXPECT_TRUE(m_manager.idle());
    m_manager.reply(clear, TESK2_STATUS_RESPONSE, stateBody(stateWith(0)));
    processingEvent();
    Datagram newest;
    ASSERT_TRUE(m_manager.receive(newest));
    ASSERT_EQ(newest.opcode, QEL_OPCODE_SET_CONFIG);
    tesk2_message message;
    tesk2_message_init(&message);
    std::memcpy(tesk2_message_data(&message), newest.bytes.data(), newest.bytes.size());
    qel_config sent{};
    ASSERT_EQ(qel_config_decode(&message, 0, &sent), KES_SUCCESS);
    const qel_options options = sampleOptions();
    EXPECT_STREQ(sent.latency, qel_options_find_latency_by_us(&options, 1000)->name);
    m_manager.reply(newest, TESK2_STATUS_RESPONSE, stateBody(stateWith(0)));
    processingEvent();
    EXPECT_TRUE(received().empty()) << "nothing else was kept";
}

// Closing while an answer is outstanding: the request and what was kept to
// follow it are given up, and the DISCONNECT goes out all the same, so that
// the manager frees the panel's place at once.
TEST_F(Delivery, StopGivesUpTheOutstandingRequestAndDisconnects) {
    ASSERT_EQ(m_client->clearSystemError(), KES_SUCCESS);
    ASSERT_EQ(m_client->clearSystemError(), KES_SUCCESS); // kept
    Datagram outstanding;
    ASSERT_TRUE(m_manager.receive(outstanding));
    m_client->stop();
    EXPECT_EQ(received(), (std::vector<uint16_t>{TESK2_OPCODE_DISCONNECT}));
    EXPECT_EQ(managerClient()->status, TESK2_DISCONNECTED);
    // A late answer finds nobody listening for it.
    m_manager.reply(outstanding, TESK2_STATUS_RESPONSE, stateBody(stateWith(0)));
    EXPECT_TRUE(received().empty());
}

TEST(ClientSubscription, KeepsTheListenerWithOneClientAtATimeAndEndsWithIt) {
    ModelFactory factory;
    PortClient first(&factory, 1);
    PortClient second(&factory, 1);
    Log log;
    RecordingListener other(&log, "other");
    RecordingListener listener(&log, "listener");
    first.addListener(&other);
    using List = std::vector<QelClientListener*>;
    {
        QelClientSubscription subscription(&listener);
        EXPECT_EQ(subscription.getClient(), nullptr);
        EXPECT_TRUE(subscription.setClient(&first));
        EXPECT_FALSE(subscription.setClient(&first)) << "the same client again";
        EXPECT_EQ(first.getListeners(), (List{&other, &listener}));
        EXPECT_TRUE(subscription.setClient(&second));
        EXPECT_EQ(first.getListeners(), List{&other});
        EXPECT_EQ(second.getListeners(), List{&listener});
        EXPECT_EQ(subscription.getClient(), &second);
    }
    EXPECT_TRUE(second.getListeners().empty()) << "gone with the subscription";
    EXPECT_EQ(first.getListeners(), List{&other});
}

} // namespace
} // namespace qeltest
