// The client object against a scripted manager: the start-up waits, the
// listeners, the validity of the model objects and sending a configuration.
#include "bridge_support.h"

#include "QelConfig.h"
#include "QelInfo.h"
#include "QelOptions.h"
#include "QelState.h"

#include "qel_codec.h"
#include "test_clock.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace qeltest {
namespace {

using Log = std::vector<std::string>;

class ClientStartUp : public BridgeTest {};

TEST_F(ClientStartUp, ThreeWaitsSucceedInOrderAndFillTheModel) {
    RecordingListener a(&m_log, "a");
    m_client->addListener(&a);
    startUp();
    EXPECT_EQ(m_log, (Log{"a:1", "a:1", "a:2", "a:0", "a:3", "a:4"}))
        << "connecting, connected, info, CONNECT done, options, state";
    EXPECT_EQ(managerClient()->status, TESK2_CONNECTED);
    ASSERT_NE(m_client->getInfo(), nullptr);
    EXPECT_EQ(m_client->getInfo()->getVersion(), "1.4.2b");
    ASSERT_NE(m_client->getOptions(), nullptr);
    EXPECT_EQ(m_client->getOptions()->getLatencies().size(), 3u);
    ASSERT_NE(m_client->getState(), nullptr);
    EXPECT_EQ(m_client->getState()->getDeviceName(), "Qelvane");
    EXPECT_EQ(m_client->getState()->getConfig()->m_latency, "2 ms");
}

TEST_F(ClientStartUp, ConditionsThatHoldReturnAtOnceWithoutTouchingTheSocket) {
    startUp();
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(stateWith(0x0201)));
    ASSERT_TRUE(waitReadable(managerClient()->socket));
    EXPECT_EQ(m_client->waitForConnection(), KES_SUCCESS);
    EXPECT_EQ(m_client->waitForOptions(), KES_SUCCESS);
    EXPECT_EQ(m_client->waitForState(), KES_SUCCESS);
    EXPECT_EQ(m_client->getState()->getRecord()->system_error, 0) << "nothing was processed";
    EXPECT_TRUE(waitReadable(managerClient()->socket, 0)) << "the datagram is still unread";
}

TEST_F(ClientStartUp, AnswersThatNeverSatisfyTheConditionEndAtTheDeadline) {
    TestClock clock;
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    ASSERT_EQ(m_client->connect(), KES_SUCCESS);
    Datagram connect;
    ASSERT_TRUE(m_manager.receive(connect));
    m_manager.reply(connect, TESK2_STATUS_RESPONSE, infoBody());
    ASSERT_EQ(m_client->waitForConnection(), KES_SUCCESS);

    // The manager keeps sending states, never options, one after the client
    // has taken the last; each state taken costs a second of the test clock.
    struct Ticker : QelClientListener {
        TestClock* clock;
        std::atomic<int> states{0};
        void onClientEvent(int code) override {
            if (code == QEL_CLIENT_EVENT_STATE) {
                clock->advance(1);
                ++states;
            }
        }
    } ticker;
    ticker.clock = &clock;
    m_client->addListener(&ticker);
    std::atomic<bool> done{false};
    std::thread manager([&] {
        for (uint16_t link = 1; !done; ++link) {
            m_manager.send(TESK2_STATUS_EVENT, link, QEL_EVENT_STATE,
                           stateBody(stateWith(0, link)));
            while (!done && ticker.states < link) {
                std::this_thread::yield();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto real = std::chrono::steady_clock::now();
    const kes_result result = m_client->waitForOptions();
    done = true;
    manager.join();
    m_client->removeListener(&ticker);

    EXPECT_EQ(result, KES_TIMEDOUT);
    // The first reading after 5.5 s ends the wait: after the sixth state, or
    // the seventh when two arrived together.
    EXPECT_GE(ticker.states, 6);
    EXPECT_LE(ticker.states, 7);
    EXPECT_LT(std::chrono::steady_clock::now() - real, std::chrono::seconds(5));
    EXPECT_EQ(m_client->getOptions(), nullptr);
}

TEST_F(ClientStartUp, AClosedManagerPortIsAResetAndCountsAsLostContactBeforeTheThreadRan) {
    RecordingListener a(&m_log, "a");
    m_client->addListener(&a);
    m_manager.close();
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    ASSERT_EQ(m_client->connect(), KES_SUCCESS);
    EXPECT_EQ(m_client->waitForConnection(), KES_CONNRESET);
    EXPECT_EQ(m_log, (Log{"a:1", "a:1"})) << "no restart warning: the thread never ran";

    // The lost contact is told when the next event is handled, once.
    RecordingWarnings warnings(&m_log);
    m_client->setWarnings(&warnings);
    m_log.clear();
    EXPECT_EQ(m_client->onThreadEvent(), KES_SUCCESS);
    EXPECT_EQ(m_log, (Log{"sleep", "a:2", "a:3", "a:4"}));
    m_log.clear();
    EXPECT_EQ(m_client->onThreadEvent(), KES_SUCCESS);
    EXPECT_EQ(m_log, Log{}) << "the client is stopped and has told it already";
}

class ClientListeners : public BridgeTest {};

TEST_F(ClientListeners, AreToldInOrderOncePerRegistrationAndRemovedFirstOccurrenceFirst) {
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    RecordingListener a(&m_log, "a"), b(&m_log, "b"), c(&m_log, "c");
    m_client->addListener(&a);
    m_client->addListener(&b);
    m_client->addListener(&a);
    m_client->onManagerEvent(QEL_CLIENT_EVENT_STATE);
    EXPECT_EQ(m_log, (Log{"a:4", "b:4", "a:4"}));

    m_log.clear();
    m_client->removeListener(&a);
    m_client->removeListener(&c);
    m_client->onManagerEvent(QEL_CLIENT_EVENT_INFO);
    EXPECT_EQ(m_log, (Log{"b:2", "a:2"}));
}

TEST_F(ClientListeners, ObjectsAreNullWhileTheirRecordIsNotValid) {
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    RecordingListener a(&m_log, "a");
    m_client->addListener(&a);
    EXPECT_EQ(m_client->getInfo(), nullptr);
    EXPECT_EQ(m_client->getOptions(), nullptr);
    EXPECT_EQ(m_client->getState(), nullptr);

    // A state without valid options: updated with no options, still told.
    managerClient()->state = sampleState();
    managerClient()->flags = QEL_CLIENT_STATE_VALID;
    m_client->onManagerEvent(QEL_CLIENT_EVENT_STATE);
    EXPECT_EQ(m_log, (Log{"a:4"}));
    ASSERT_NE(m_client->getState(), nullptr);
    EXPECT_EQ(m_client->getState()->getDeviceName(), "Qelvane");
    EXPECT_EQ(m_client->getState()->getConfig()->m_latency, "");
    EXPECT_EQ(m_client->getOptions(), nullptr);

    managerClient()->flags = 0;
    EXPECT_EQ(m_client->getState(), nullptr) << "the object exists, its record is not valid";
}

class ClientConfig : public BridgeTest {};

TEST_F(ClientConfig, SendsWhatConvertsAndNothingElse) {
    startUp();
    std::unique_ptr<QelConfig> config(m_factory.createConfig());
    config->copyFrom(m_client->getState()->getConfig());
    config->m_latency = "3 ms";
    EXPECT_EQ(m_client->setConfig(*config), KES_INVALIDDATA);
    EXPECT_TRUE(m_manager.idle()) << "an unoffered latency sends nothing";

    config->m_latency = "5 ms";
    config->m_channels = "32";
    ASSERT_EQ(m_client->setConfig(*config), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    EXPECT_EQ(d.opcode, QEL_OPCODE_SET_CONFIG);
    tesk2_message message;
    tesk2_message_init(&message);
    std::memcpy(tesk2_message_data(&message), d.bytes.data(), d.bytes.size());
    qel_config sent{};
    ASSERT_EQ(qel_config_decode(&message, 0, &sent), KES_SUCCESS);
    EXPECT_EQ(sent.channels, 32);
    EXPECT_STREQ(sent.latency, "High");
    EXPECT_EQ(sent.sample_rate_hz, 48000u);
}

} // namespace
} // namespace qeltest
