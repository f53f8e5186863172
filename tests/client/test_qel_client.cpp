// The manager client against a scripted manager on the manager's port: the
// requests on the wire, the record updates, the order of notifications and
// every log line, including answers that do not decode.
#include "qel_client.h"
#include "qel_codec.h"

#include "log_capture.h"
#include "record_builders.h"
#include "scripted_peer.h"
#include "test_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace qeltest {
namespace {

using Events = std::vector<QelClientEvent>;
using Lines = std::vector<std::string>;

std::vector<uint8_t> bodyOf(const tesk2_message& message) {
    const uint8_t* body = tesk2_message_payload(&message);
    return std::vector<uint8_t>(body, body + tesk2_message_body_size(&message));
}

std::vector<uint8_t> stateBody(const qel_state& state) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_EVENT_STATE);
    EXPECT_EQ(qel_state_encode(&state, &message), KES_SUCCESS);
    return bodyOf(message);
}

std::vector<uint8_t> optionsBody(const qel_options& options) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, QEL_EVENT_OPTIONS);
    EXPECT_EQ(qel_options_encode(&options, &message), KES_SUCCESS);
    return bodyOf(message);
}

std::vector<uint8_t> infoBody() {
    qel_info info{};
    info.major = 1;
    info.minor = 4;
    info.build = 2;
    info.suffix[0] = 'b';
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, TESK2_OPCODE_CONNECT);
    EXPECT_EQ(qel_info_encode(&info, &message), KES_SUCCESS);
    return bodyOf(message);
}

class ManagerClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kes_env_acquire(&m_env), KES_SUCCESS);
        kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
        kes_log_set_timestamp(m_env->log, KES_LOG_STDERR, false);
        m_log = std::make_unique<LogCapture>(m_env->log);
        ASSERT_EQ(qel_client_new(m_env, &m_client), KES_SUCCESS);
        m_client->owner_context = this;
        m_client->callback = &ManagerClientTest::onEvent;
    }
    void TearDown() override {
        qel_client_free(m_client);
        m_log.reset();
        kes_env_release(m_env);
    }

    static void onEvent(qel_client* client, QelClientEvent event) {
        static_cast<ManagerClientTest*>(client->owner_context)->m_events.push_back(event);
    }

    kes_result process() {
        waitReadable(m_client->socket);
        return tesk2_client_process(m_client->protocol);
    }

    // CONNECT answered with the info, then the options and state events.
    void connect() {
        ASSERT_EQ(qel_client_connect(m_client), KES_SUCCESS);
        Datagram d;
        ASSERT_TRUE(m_manager.receive(d));
        m_manager.reply(d, TESK2_STATUS_RESPONSE, infoBody());
        m_manager.send(TESK2_STATUS_EVENT, 100, QEL_EVENT_OPTIONS, optionsBody(sampleOptions()));
        m_manager.send(TESK2_STATUS_EVENT, 101, QEL_EVENT_STATE, stateBody(sampleState()));
        while (!m_manager.idle() || (m_client->flags & QEL_CLIENT_STATE_VALID) == 0) {
            ASSERT_EQ(process(), KES_SUCCESS);
            m_manager.drain();
        }
        ASSERT_EQ(m_client->status, TESK2_CONNECTED);
        ASSERT_EQ(m_client->flags,
                  QEL_CLIENT_INFO_VALID | QEL_CLIENT_OPTIONS_VALID | QEL_CLIENT_STATE_VALID);
        m_events.clear();
        m_log->clear();
    }

    // Sends SET CONFIG with `config` and takes it at the manager.
    Datagram setConfig(const qel_config& config) {
        EXPECT_EQ(qel_client_set_system_config(&config, m_client), KES_SUCCESS);
        Datagram d;
        EXPECT_TRUE(m_manager.receive(d));
        return d;
    }

    bool logged(const std::string& line) const {
        Lines all = m_log->lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    ScriptedPeer m_manager{QEL_MANAGER_PORT};
    kes_env* m_env = nullptr;
    std::unique_ptr<LogCapture> m_log;
    qel_client* m_client = nullptr;
    Events m_events;
};

TEST_F(ManagerClientTest, ConnectsAndLearnsInfoOptionsAndState) {
    ASSERT_EQ(qel_client_connect(m_client), KES_SUCCESS);
    EXPECT_EQ(m_events, Events{QEL_CLIENT_EVENT_CONNECTION});
    EXPECT_EQ(m_client->status, TESK2_CONNECTING);
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    EXPECT_EQ(d.protocol, QEL_MANAGER_PROTOCOL);
    EXPECT_EQ(d.length, 24);
    EXPECT_EQ(d.opcode, TESK2_OPCODE_CONNECT);
    EXPECT_EQ(d.body(), (std::vector<uint8_t>{0, 1, 0, 3}));
    EXPECT_EQ(d.clientId, (std::array<uint8_t, 8>{}));
    kes_address local{};
    kes_socket_local_address(m_client->socket, &local);
    EXPECT_EQ(d.clientPort, kes_address_port(&local));

    m_events.clear();
    m_manager.reply(d, TESK2_STATUS_RESPONSE, infoBody());
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_CONNECTION, QEL_CLIENT_EVENT_INFO,
                                QEL_CLIENT_EVENT_REQUEST_DONE}));
    EXPECT_EQ(m_client->info.major, 1);
    EXPECT_STREQ(m_client->info.suffix, "b");
    EXPECT_EQ(m_client->pending, nullptr);

    m_events.clear();
    m_manager.send(TESK2_STATUS_EVENT, 7, QEL_EVENT_OPTIONS, optionsBody(sampleOptions()));
    ASSERT_EQ(process(), KES_SUCCESS);
    m_manager.send(TESK2_STATUS_EVENT, 8, QEL_EVENT_STATE, stateBody(sampleState()));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_OPTIONS, QEL_CLIENT_EVENT_STATE}));
    qel_options options = sampleOptions();
    qel_state state = sampleState();
    EXPECT_TRUE(qel_options_equal(&m_client->options, &options));
    EXPECT_EQ(std::memcmp(&m_client->state, &state, sizeof state), 0);
    EXPECT_TRUE(logged("Debug qel_client_on_event: options are:"));
    EXPECT_TRUE(logged("Debug   Channel Counts (6): 2,4,8,16,32,64"));
    EXPECT_TRUE(logged("Debug qel_client_on_event: state is:"));
}

TEST_F(ManagerClientTest, LosingTheConnectionClearsInfoOptionsStateThenReports) {
    connect();
    m_manager.close();
    ASSERT_EQ(qel_client_clear_system_error(m_client), KES_SUCCESS);
    ASSERT_EQ(process(), KES_CONNRESET);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_INFO, QEL_CLIENT_EVENT_OPTIONS,
                                QEL_CLIENT_EVENT_STATE, QEL_CLIENT_EVENT_CONNECTION}));
    EXPECT_EQ(m_client->flags, 0u);
    EXPECT_EQ(m_client->status, TESK2_DISCONNECTED);
    qel_state zero{};
    EXPECT_EQ(std::memcmp(&m_client->state, &zero, sizeof zero), 0);
    EXPECT_NE(m_client->pending, nullptr) << "a connection loss does not clear the request";
}

TEST_F(ManagerClientTest, ARefusedConnectReportsOnlyTheConnection) {
    ASSERT_EQ(qel_client_connect(m_client), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    m_events.clear();
    m_manager.reply(d, TESK2_STATUS_TOO_MANY_CLIENTS);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_CONNECTION, QEL_CLIENT_EVENT_REQUEST_DONE}));
    EXPECT_EQ(m_client->status, TESK2_DISCONNECTED);
    EXPECT_EQ(m_client->flags, 0u);
}

TEST_F(ManagerClientTest, ARefusalCarryingAnInfoStoresNothing) {
    ASSERT_EQ(qel_client_connect(m_client), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    m_manager.reply(d, TESK2_STATUS_TOO_MANY_CLIENTS, infoBody());
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_client->status, TESK2_DISCONNECTED);
    EXPECT_EQ(m_client->flags, 0u) << "records are valid only while connected";
}

TEST_F(ManagerClientTest, AnAnswerToAConnectWithoutABodyLogsAndKeepsTheInfo) {
    ASSERT_EQ(qel_client_connect(m_client), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    m_manager.reply(d, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_client->status, TESK2_CONNECTED);
    EXPECT_EQ(m_client->flags, 0u);
    EXPECT_TRUE(logged("Error qel_client_on_event: Error reading info: invalid parameter: "
                       "(0x0003=INVALIDPARAMETER)"));
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_CONNECTION, QEL_CLIENT_EVENT_CONNECTION,
                                QEL_CLIENT_EVENT_REQUEST_DONE}));
}

TEST_F(ManagerClientTest, AStrayAnswerAfterTheConnectionWasLostStoresNoState) {
    TestClock clock;
    connect();
    Datagram d = setConfig(sampleConfig());
    clock.advance(32);
    ASSERT_EQ(tesk2_client_process(m_client->protocol), KES_SUCCESS);
    ASSERT_EQ(m_client->status, TESK2_DISCONNECTED);
    m_events.clear();
    // A CONNECT-coded answer reaches the owner in any state.
    m_manager.send(TESK2_STATUS_OPCODE_ERROR, d.seqnum, TESK2_OPCODE_CONNECT,
                   stateBody(sampleState()));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_client->flags, 0u);
    EXPECT_EQ(m_events, Events{QEL_CLIENT_EVENT_REQUEST_DONE});
    EXPECT_TRUE(logged("Warning qel_client_on_event: SET_CONFIG/CLEAR_SYSTEM_ERROR answer while "
                       "disconnected: ignored"));
}

TEST_F(ManagerClientTest, SendsAValidConfigurationAndTakesTheAnsweredState) {
    connect();
    qel_config config = sampleConfig();
    config.channels = 32;
    Datagram d = setConfig(config);
    EXPECT_EQ(d.opcode, QEL_OPCODE_SET_CONFIG);
    tesk2_message expected;
    tesk2_message_init(&expected);
    tesk2_message_set_header(&expected, QEL_MANAGER_PROTOCOL, QEL_OPCODE_SET_CONFIG);
    ASSERT_EQ(qel_config_encode(&config, &expected), KES_SUCCESS);
    EXPECT_EQ(d.body(), bodyOf(expected));
    Lines sent = m_log->lines();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[0],
              "Debug qel_client_set_system_config: Sending SET CONFIG request with config:");
    EXPECT_EQ(sent[1], "Debug   Channels: 32");
    EXPECT_EQ(
        sent.back().rfind("Debug qel_client_set_system_config: Sent request, request id is ", 0),
        0u);

    qel_state state = sampleState();
    state.config = config;
    m_manager.reply(d, TESK2_STATUS_RESPONSE, stateBody(state));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_STATE, QEL_CLIENT_EVENT_REQUEST_DONE}));
    EXPECT_EQ(m_client->state.config.channels, 32);
    EXPECT_TRUE(logged("Error qel_client_on_event: SET_CONFIG/CLEAR_SYSTEM_ERROR: state is now:"));
}

TEST_F(ManagerClientTest, RefusesRequestsItMustNotSend) {
    qel_config config = sampleConfig();
    EXPECT_EQ(qel_client_disconnect(m_client), KES_INVALIDSTATE) << "while disconnected";
    EXPECT_EQ(qel_client_set_system_config(&config, m_client), KES_INVALIDSTATE)
        << "before the options are known";
    connect();
    EXPECT_EQ(qel_client_set_system_config(nullptr, m_client), KES_INVALIDPARAMETER);
    config.channels = 12;
    EXPECT_EQ(qel_client_set_system_config(&config, m_client), KES_INVALIDDATA);
    EXPECT_TRUE(m_log->lines().empty()) << "an invalid configuration is not even logged";
    config = sampleConfig();
    setConfig(config);
    EXPECT_EQ(qel_client_set_system_config(&config, m_client), KES_INVALIDSTATE);
    EXPECT_EQ(qel_client_clear_system_error(m_client), KES_INVALIDSTATE);
    EXPECT_EQ(qel_client_disconnect(m_client), KES_INVALIDSTATE);
    EXPECT_TRUE(m_manager.idle()) << "refused requests are never sent";
}

TEST_F(ManagerClientTest, AnErrorStatusAnswerIsLoggedAndItsStateTaken) {
    connect();
    ASSERT_EQ(qel_client_clear_system_error(m_client), KES_SUCCESS);
    EXPECT_TRUE(logged(
        "Debug qel_client_clear_system_error: Sending CLEAR SYSTEM ERROR request no config"));
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    EXPECT_EQ(d.opcode, QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    EXPECT_EQ(d.length, 20);
    qel_state state = sampleState();
    state.system_error = QEL_SYSTEM_ERROR_DRIVER_MISSING;
    m_manager.reply(d, QEL_STATUS_INVALID_DATA, stateBody(state));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(logged(
        "Error qel_client_on_event: SET_CONFIG/CLEAR_SYSTEM_ERROR response status=Invalid Data"));
    EXPECT_TRUE(logged("Debug   System Error: 513 (Driver Missing)"));
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_STATE, QEL_CLIENT_EVENT_REQUEST_DONE}));
    EXPECT_EQ(m_client->state.system_error, QEL_SYSTEM_ERROR_DRIVER_MISSING);
}

TEST_F(ManagerClientTest, AnAnswerThatDoesNotDecodeKeepsTheStoredState) {
    connect();
    qel_state before = m_client->state;
    Datagram d = setConfig(sampleConfig());
    m_manager.reply(d, TESK2_STATUS_NOT_CONNECTED); // no body at all
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(logged(
        "Error qel_client_on_event: SET_CONFIG/CLEAR_SYSTEM_ERROR response status=Not connected"));
    EXPECT_TRUE(logged("Error qel_client_on_event: Error reading state: invalid parameter: "
                       "(0x0003=INVALIDPARAMETER)"));
    EXPECT_FALSE(logged("Error qel_client_on_event: SET_CONFIG/CLEAR_SYSTEM_ERROR: state is now:"));
    EXPECT_EQ(m_events, Events{QEL_CLIENT_EVENT_REQUEST_DONE});
    EXPECT_EQ(m_client->pending, nullptr);
    EXPECT_TRUE(m_client->flags & QEL_CLIENT_STATE_VALID);
    EXPECT_EQ(std::memcmp(&m_client->state, &before, sizeof before), 0);
}

TEST_F(ManagerClientTest, EqualRecordsRaiseNothingAndChangedOnesDo) {
    connect();
    m_manager.send(TESK2_STATUS_EVENT, 1, QEL_EVENT_OPTIONS, optionsBody(sampleOptions()));
    m_manager.send(TESK2_STATUS_EVENT, 2, QEL_EVENT_STATE, stateBody(sampleState()));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(m_events.empty());

    qel_options options = sampleOptions();
    options.latencies.entries[2].latency_us = 5001;
    m_manager.send(TESK2_STATUS_EVENT, 3, QEL_EVENT_OPTIONS, optionsBody(options));
    qel_state state = sampleState();
    state.link_speed = 100;
    m_manager.send(TESK2_STATUS_EVENT, 4, QEL_EVENT_STATE, stateBody(state));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_OPTIONS, QEL_CLIENT_EVENT_STATE}));
    EXPECT_EQ(m_client->options.latencies.entries[2].latency_us, 5001u);
    EXPECT_EQ(m_client->state.link_speed, 100u);
}

TEST_F(ManagerClientTest, MalformedAndUnknownEventsLeaveTheRecords) {
    connect();
    qel_options before = m_client->options;
    m_manager.send(TESK2_STATUS_EVENT, 1, QEL_EVENT_OPTIONS, {0, 2, 0, 0, 0, 0});
    m_manager.send(TESK2_STATUS_EVENT, 2, QEL_EVENT_STATE, {});
    m_manager.send(TESK2_STATUS_EVENT, 3, 0x0103, stateBody(sampleState()));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(m_events.empty());
    EXPECT_TRUE(qel_options_equal(&m_client->options, &before));
    EXPECT_EQ(m_log->lines(),
              (Lines{"Error qel_client_on_event: Error reading options: no data: (0x0024=NODATA)",
                     "Error qel_client_on_event: Error reading state: invalid parameter: "
                     "(0x0003=INVALIDPARAMETER)"}))
        << "an unknown event opcode is ignored without a word";
}

TEST_F(ManagerClientTest, AnAnswerToARequestThatIsNotPendingRaisesNoRequestDone) {
    connect();
    // The answer still updates the records, but only the pending request's
    // answer finishes a request.
    Datagram d = setConfig(sampleConfig());
    tesk2_request* sent = m_client->pending;
    m_client->pending = nullptr; // as if the owner had moved on
    qel_state state = sampleState();
    state.config_lock_flags = QEL_CONFIG_LOCK_ASIO_CLIENT;
    m_manager.reply(d, TESK2_STATUS_RESPONSE, stateBody(state));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, Events{QEL_CLIENT_EVENT_STATE});
    EXPECT_EQ(m_client->state.config_lock_flags, QEL_CONFIG_LOCK_ASIO_CLIENT);
    EXPECT_FALSE(sent->in_use);
}

TEST_F(ManagerClientTest, DisconnectClearsEverythingAndKeepsTheRequestPending) {
    connect();
    ASSERT_EQ(qel_client_disconnect(m_client), KES_SUCCESS);
    EXPECT_EQ(m_events, (Events{QEL_CLIENT_EVENT_INFO, QEL_CLIENT_EVENT_OPTIONS,
                                QEL_CLIENT_EVENT_STATE, QEL_CLIENT_EVENT_CONNECTION}));
    Datagram d;
    ASSERT_TRUE(m_manager.receive(d));
    EXPECT_EQ(d.opcode, TESK2_OPCODE_DISCONNECT);
    EXPECT_NE(m_client->pending, nullptr);
    EXPECT_EQ(qel_client_connect(m_client), KES_INVALIDSTATE);
}

// An owner that closes while an answer is outstanding gives the request up:
// the slot is free for the DISCONNECT, and the late answer completes nothing.
TEST_F(ManagerClientTest, AGivenUpRequestFreesItsSlotAndItsLateAnswerIsIgnored) {
    EXPECT_EQ(qel_client_abandon_request(nullptr), KES_INVALIDPARAMETER);
    connect();
    EXPECT_EQ(qel_client_abandon_request(m_client), KES_INVALIDSTATE) << "none pending";
    Datagram late = setConfig(sampleConfig());
    ASSERT_EQ(qel_client_abandon_request(m_client), KES_SUCCESS);
    EXPECT_EQ(m_client->pending, nullptr);
    const Lines lines = m_log->lines();
    EXPECT_EQ(1,
              std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.rfind("Debug qel_client_abandon_request: request id ",
                                                  0) == 0 &&
                                       line.find(" given up") != std::string::npos;
                            }))
        << "logged once";
    ASSERT_EQ(qel_client_disconnect(m_client), KES_SUCCESS);
    Datagram disconnect;
    ASSERT_TRUE(m_manager.receive(disconnect));
    EXPECT_EQ(disconnect.opcode, TESK2_OPCODE_DISCONNECT);
    m_events.clear();
    qel_state state = sampleState();
    state.config_lock_flags = QEL_CONFIG_LOCK_ASIO_CLIENT;
    m_manager.reply(late, TESK2_STATUS_RESPONSE, stateBody(state));
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(m_events, Events{}) << "no state taken, no request done";
    EXPECT_EQ(m_client->flags & QEL_CLIENT_STATE_VALID, 0u);
}

} // namespace
} // namespace qeltest
