#include "bridge_support.h"

#include "QelClientThread.h"

#include "qel_codec.h"
#include "tesk2_client.h"

namespace qeltest {

namespace {

template <typename Record>
std::vector<uint8_t> encoded(uint16_t opcode, kes_result (*encode)(const Record*, tesk2_message*),
                             const Record& record) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, opcode);
    EXPECT_EQ(encode(&record, &message), KES_SUCCESS);
    const uint8_t* body = tesk2_message_payload(&message);
    return std::vector<uint8_t>(body, body + tesk2_message_body_size(&message));
}

} // namespace

kes_result PortClient::initManagerClient(kes_env* env, qel_client** client) {
    return qel_client_new_on_port(env, m_port, client);
}

void RecordingListener::onClientEvent(int code) {
    m_log->push_back(m_name + ":" + std::to_string(code));
    if (onEvent) {
        onEvent(code);
    }
}

void RecordingWarnings::onLostContact(QelLostContact reason) {
    m_log->push_back(reason == QEL_LOST_CONTACT_SLEEP ? "sleep" : "restart");
    if (onWarning) {
        onWarning(reason);
    }
}

std::vector<uint8_t> infoBody() {
    qel_info info{};
    info.major = 1;
    info.minor = 4;
    info.build = 2;
    info.suffix[0] = 'b';
    return encoded(TESK2_OPCODE_CONNECT, &qel_info_encode, info);
}

std::vector<uint8_t> optionsBody(const qel_options& options) {
    return encoded(QEL_EVENT_OPTIONS, &qel_options_encode, options);
}

std::vector<uint8_t> stateBody(const qel_state& state) {
    return encoded(QEL_EVENT_STATE, &qel_state_encode, state);
}

qel_state stateWith(uint16_t systemError, uint32_t linkSpeed) {
    qel_state state = sampleState();
    state.system_error = systemError;
    state.link_speed = linkSpeed;
    return state;
}

void BridgeTest::SetUp() {
    ASSERT_EQ(kes_env_acquire(&m_env), KES_SUCCESS);
    g_clientThreadTick.store(kes_time{0, 0});
    m_client = std::make_unique<PortClient>(&m_factory, m_manager.port());
}

void BridgeTest::TearDown() {
    m_client->stop();
    m_client.reset();
    kes_env_release(m_env);
}

kes_result BridgeTest::makeClient() {
    kes_result result = m_client->initManagerClient(m_env, m_client->getManagerClientAddress());
    return result != KES_SUCCESS ? result : m_client->createModel();
}

void BridgeTest::startUp(const qel_state& state) {
    ASSERT_EQ(makeClient(), KES_SUCCESS);
    ASSERT_EQ(m_client->connect(), KES_SUCCESS);
    Datagram connect;
    ASSERT_TRUE(m_manager.receive(connect));
    ASSERT_EQ(connect.opcode, TESK2_OPCODE_CONNECT);
    m_manager.reply(connect, TESK2_STATUS_RESPONSE, infoBody());
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_OPTIONS, optionsBody(sampleOptions()));
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(state));
    ASSERT_EQ(m_client->waitForConnection(), KES_SUCCESS);
    ASSERT_EQ(m_client->waitForOptions(), KES_SUCCESS);
    ASSERT_EQ(m_client->waitForState(), KES_SUCCESS);
}

void BridgeTest::sendState(const qel_state& state) {
    m_manager.send(TESK2_STATUS_EVENT, m_seqnum++, QEL_EVENT_STATE, stateBody(state));
    ASSERT_TRUE(waitReadable(managerClient()->socket));
    ASSERT_EQ(tesk2_client_process(managerClient()->protocol), KES_SUCCESS);
}

std::vector<uint16_t> BridgeTest::received(int waitMs) {
    std::vector<uint16_t> opcodes;
    Datagram d;
    while (m_manager.receive(d, waitMs)) {
        opcodes.push_back(d.opcode);
    }
    return opcodes;
}

} // namespace qeltest
