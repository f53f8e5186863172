// The manager's protocol core driven datagram by datagram: the answers and
// events it puts in its outbox (exact bytes, statuses and decoded bodies),
// its sessions, the 31 s rule under the test clock, the test modes, the
// settings the control commands use, and the log lines of refused
// datagrams and session events.
#include "manager_core.h"
#include "manager_wire.h"

#include "log_capture.h"
#include "record_builders.h"
#include "scripted_peer.h"
#include "test_clock.h"

#include "kes_env.h"
#include "qel_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace qeltest {
namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const uint8_t k_eth0[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};
const uint8_t k_wlan0[QEL_MAC_SIZE] = {0x02, 0x42, 0xac, 0x11, 0x00, 0x02};

ManagerInterface makeInterface(const std::u16string& name, const uint8_t* mac, bool up,
                               uint32_t speed, std::array<uint8_t, 4> ip) {
    ManagerInterface i{};
    i.name = name;
    std::memcpy(i.mac, mac, QEL_MAC_SIZE);
    i.linkUp = up;
    i.speedMbps = speed;
    std::memcpy(i.ipv4, ip.data(), 4);
    return i;
}

// The interfaces sampleOptions offers: eth0 up at 1000 Mbit/s with
// 192.168.1.20 (what sampleState reports), wlan0 down.
std::vector<ManagerInterface> sampleInterfaces() {
    return {makeInterface(u"eth0", k_eth0, true, 1000, {192, 168, 1, 20}),
            makeInterface(u"wlan0", k_wlan0, false, 0, {0, 0, 0, 0})};
}

bool equalsSampleOptions(const qel_options& options) {
    const qel_options sample = sampleOptions();
    return qel_options_equal(&options, &sample);
}

qel_options bareOptions() {
    qel_options o = sampleOptions();
    o.interfaces = qel_interface_list{};
    return o;
}

class ManagerCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(kes_env_acquire(&m_env), KES_SUCCESS);
        kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_DEBUG);
        kes_log_set_timestamp(m_env->log, KES_LOG_STDERR, false);
        m_log = std::make_unique<LogCapture>(m_env->log);
        m_core = std::make_unique<ManagerCore>(m_env->log, bareOptions(), sampleInterfaces(),
                                               sampleConfig());
        m_core->setConfigChangedCallback(
            [this](const qel_config& config) { m_saved.push_back(config); });
    }
    void TearDown() override {
        m_core.reset();
        m_log.reset();
        kes_log_set_threshold(m_env->log, KES_LOG_STDERR, KES_LOG_NONE);
        kes_env_release(m_env);
    }

    std::vector<Sent> send(const FakeClient& client, const Bytes& bytes) {
        Outbox out;
        m_core->handleDatagram(bytes.data(), bytes.size(), client.address(), out);
        return sentOf(out);
    }
    std::vector<Sent> request(const FakeClient& client, uint16_t seqnum, uint16_t opcode,
                              const Bytes& body = {}) {
        return send(client, requestBytes(client, seqnum, opcode, body));
    }
    // Connects and checks that the answer and both events came.
    void connect(const FakeClient& client, uint16_t seqnum = 0) {
        const auto sent = request(client, seqnum, TESK2_OPCODE_CONNECT, connectBody());
        ASSERT_EQ(sent.size(), 3u);
        ASSERT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
    }
    // The log lines at Info and above.
    Lines notices() const {
        Lines out;
        for (const auto& line : m_log->unstamped()) {
            if (line.rfind("Debug ", 0) != 0) {
                out.push_back(line);
            }
        }
        return out;
    }

    kes_env* m_env = nullptr;
    TestClock m_clock;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<ManagerCore> m_core;
    std::vector<qel_config> m_saved;
};

const FakeClient k_panel{40001, {1, 2, 3, 4, 5, 6, 7, 8}};
const FakeClient k_other{40002, {}};

TEST_F(ManagerCoreTest, InitialRecordsFollowTheConfigurationAndTheInterfaces) {
    EXPECT_TRUE(equalsSampleOptions(m_core->options()));
    EXPECT_TRUE(sameState(m_core->state(), sampleState()));
    EXPECT_TRUE(m_core->sessions().empty());
    EXPECT_TRUE(m_saved.empty());
}

// ---- CONNECT ----

TEST_F(ManagerCoreTest, ConnectIsAnsweredWithTheInfoThenOptionsAndStateEvents) {
    const auto sent = request(k_panel, 0x1234, TESK2_OPCODE_CONNECT, connectBody());
    ASSERT_EQ(sent.size(), 3u);

    const Bytes expectedAnswer = {0x10, 0x01,
                                  0x00, 42,
                                  0x12, 0x34,
                                  0x00, 0x01,
                                  0x00, 0x01, // header up to status
                                  0x9c, 0x41,
                                  1,    2,
                                  3,    4,
                                  5,    6,
                                  7,    8, // client port 40001 and id
                                  0x00, 0x06,
                                  0x00, 0x03, // 6 slots, first value 3
                                  0x00, QEL_VERSION_MAJOR,
                                  0x00, QEL_VERSION_MINOR, // major, minor
                                  0x00, QEL_VERSION_PATCH,
                                  0x00, 0x0e,
                                  0x00, 0x00, // build, suffix at 14
                                  '-',  's',
                                  't',  'a',
                                  'n',  'd',
                                  0x00, 0x00}; // "-stand", NUL, pad
    EXPECT_EQ(sent[0].bytes, expectedAnswer);
    EXPECT_EQ(sent[0].toPort, 40001);
    qel_info info{};
    ASSERT_EQ(sent[0].decodeInfo(info), KES_SUCCESS);
    EXPECT_STREQ(info.suffix, "-stand");

    for (const auto& event : {sent[1], sent[2]}) {
        EXPECT_EQ(event.toPort, 40001);
        EXPECT_EQ(event.protocol(), QEL_MANAGER_PROTOCOL);
        EXPECT_EQ(event.length(), event.bytes.size());
        EXPECT_EQ(event.status(), TESK2_STATUS_EVENT);
        EXPECT_EQ(event.clientPort(), 40001);
        EXPECT_EQ(event.clientId(), k_panel.id);
    }
    EXPECT_EQ(sent[1].opcode(), QEL_EVENT_OPTIONS);
    EXPECT_EQ(sent[1].seqnum(), 0);
    qel_options options{};
    ASSERT_EQ(sent[1].decodeOptions(options), KES_SUCCESS);
    EXPECT_TRUE(equalsSampleOptions(options));
    EXPECT_EQ(sent[2].opcode(), QEL_EVENT_STATE);
    EXPECT_EQ(sent[2].seqnum(), 1);
    EXPECT_TRUE(sameState(sent[2].state(), sampleState()));

    ASSERT_EQ(m_core->sessions().size(), 1u);
    EXPECT_EQ(notices(), Lines({"Info qel-manager: client 127.0.0.1:40001 connected"}));
}

TEST_F(ManagerCoreTest, ConnectWithAnotherApiVersionOrNoVersionIsInvalidApi) {
    struct Case {
        const char* what;
        Bytes body;
        const char* line;
    };
    const Case cases[] = {
        {"version 2", connectBody(2),
         "Info qel-manager: client 127.0.0.1:40001 refused: API version 2 (this manager "
         "speaks 3)"},
        {"version 4", connectBody(4),
         "Info qel-manager: client 127.0.0.1:40001 refused: API version 4 (this manager "
         "speaks 3)"},
        {"empty body",
         {},
         "Info qel-manager: client 127.0.0.1:40001 refused: no API version in its CONNECT"},
        {"two values",
         {0x00, 0x02, 0x00, 0x03, 0x00, 0x03},
         "Info qel-manager: client 127.0.0.1:40001 refused: no API version in its CONNECT"},
        {"count past the body",
         {0x00, 0x01},
         "Info qel-manager: client 127.0.0.1:40001 refused: no API version in its CONNECT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_log->clear();
        const auto sent = request(k_panel, 7, TESK2_OPCODE_CONNECT, c.body);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].bytes, Bytes({0x10, 0x01, 0x00, 0x14, 0x00, 0x07, 0x00, 0x01, 0x01, 0x00,
                                        0x9c, 0x41, 1,    2,    3,    4,    5,    6,    7,    8}));
        EXPECT_STREQ(qel_status_name(sent[0].status()), "Invalid API");
        EXPECT_TRUE(m_core->sessions().empty());
        EXPECT_EQ(notices(), Lines({c.line}));
    }
}

TEST_F(ManagerCoreTest, InvalidApiEndsTheSessionOfAConnectedClient) {
    connect(k_panel);
    ASSERT_EQ(request(k_panel, 1, TESK2_OPCODE_CONNECT, connectBody(2))[0].status(),
              QEL_STATUS_INVALID_API);
    EXPECT_TRUE(m_core->sessions().empty());
    EXPECT_EQ(request(k_panel, 2, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_NOT_CONNECTED);
}

TEST_F(ManagerCoreTest, ConnectAgainIsAnsweredAgainWithFreshEvents) {
    connect(k_panel);
    const auto sent = request(k_panel, 9, TESK2_OPCODE_CONNECT, connectBody());
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
    EXPECT_EQ(sent[0].seqnum(), 9);
    EXPECT_EQ(sent[1].opcode(), QEL_EVENT_OPTIONS);
    EXPECT_EQ(sent[1].seqnum(), 2); // the event counter goes on
    EXPECT_EQ(sent[2].opcode(), QEL_EVENT_STATE);
    EXPECT_EQ(sent[2].seqnum(), 3);
    EXPECT_EQ(m_core->sessions().size(), 1u);
    EXPECT_EQ(notices().back(), "Info qel-manager: client 127.0.0.1:40001 connected again");
}

TEST_F(ManagerCoreTest, EightClientsAreServedAndTheNinthIsRefused) {
    for (uint16_t i = 0; i < 8; ++i) {
        connect(FakeClient{static_cast<uint16_t>(41000 + i), {}});
    }
    m_log->clear();
    const FakeClient ninth{41008, {}};
    const auto refused = request(ninth, 5, TESK2_OPCODE_CONNECT, connectBody());
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].status(), TESK2_STATUS_TOO_MANY_CLIENTS);
    EXPECT_EQ(refused[0].length(), 20);
    EXPECT_EQ(refused[0].seqnum(), 5);
    EXPECT_EQ(refused[0].opcode(), TESK2_OPCODE_CONNECT);
    EXPECT_EQ(m_core->sessions().size(), 8u);
    EXPECT_EQ(notices(),
              Lines({"Info qel-manager: client 127.0.0.1:41008 refused: too many clients"}));

    // One leaves: the ninth gets in.
    EXPECT_TRUE(request(FakeClient{41003, {}}, 1, TESK2_OPCODE_DISCONNECT).empty());
    connect(ninth);
    EXPECT_EQ(m_core->sessions().size(), 8u);
}

TEST_F(ManagerCoreTest, AClientIsKnownByAddressPortAndClientId) {
    connect(k_panel);
    // Same address and port, another client id: a stranger.
    FakeClient stranger = k_panel;
    stranger.id[0] = 9;
    EXPECT_EQ(request(stranger, 1, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_NOT_CONNECTED);
    // Same id from another port: a stranger too.
    FakeClient moved = k_panel;
    moved.port = 40009;
    EXPECT_EQ(request(moved, 1, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_NOT_CONNECTED);
    EXPECT_EQ(request(k_panel, 1, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
}

// ---- other requests ----

TEST_F(ManagerCoreTest, RequestsFromAClientThatIsNotConnectedAreAnsweredNotConnected) {
    const uint16_t opcodes[] = {TESK2_OPCODE_KEEPALIVE, QEL_OPCODE_SET_CONFIG,
                                QEL_OPCODE_CLEAR_SYSTEM_ERROR, 0x0123};
    for (uint16_t opcode : opcodes) {
        SCOPED_TRACE(opcode);
        const Bytes body = opcode == QEL_OPCODE_SET_CONFIG ? configBody(sampleConfig()) : Bytes{};
        const auto sent = request(k_panel, 0x0203, opcode, body);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].bytes, Bytes({0x10,
                                        0x01,
                                        0x00,
                                        0x14,
                                        0x02,
                                        0x03,
                                        static_cast<uint8_t>(opcode >> 8),
                                        static_cast<uint8_t>(opcode),
                                        0x00,
                                        0x81,
                                        0x9c,
                                        0x41,
                                        1,
                                        2,
                                        3,
                                        4,
                                        5,
                                        6,
                                        7,
                                        8}));
    }
    // DISCONNECT is never answered.
    EXPECT_TRUE(request(k_panel, 1, TESK2_OPCODE_DISCONNECT).empty());
    EXPECT_TRUE(m_core->sessions().empty());
    EXPECT_TRUE(notices().empty());
}

TEST_F(ManagerCoreTest, KeepaliveIsAnsweredWithItsSeqnumAndAnEmptyBody) {
    connect(k_panel);
    const auto sent = request(k_panel, 0xfffe, TESK2_OPCODE_KEEPALIVE);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, Bytes({0x10, 0x01, 0x00, 0x14, 0xff, 0xfe, 0x00, 0x00, 0x00, 0x01,
                                    0x9c, 0x41, 1,    2,    3,    4,    5,    6,    7,    8}));
}

TEST_F(ManagerCoreTest, UnknownOpcodeFromAConnectedClientIsUnrecognised) {
    connect(k_panel);
    m_log->clear();
    const auto sent = request(k_panel, 3, 0x0123, {0x00, 0x00});
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, Bytes({0x10, 0x01, 0x00, 0x14, 0x00, 0x03, 0x01, 0x23, 0x00, 0x31,
                                    0x9c, 0x41, 1,    2,    3,    4,    5,    6,    7,    8}));
    EXPECT_EQ(notices(),
              Lines({"Info qel-manager: client 127.0.0.1:40001: opcode 0x0123 not recognised"}));
}

TEST_F(ManagerCoreTest, DisconnectEndsTheSessionWithoutAnAnswer) {
    connect(k_panel);
    connect(k_other);
    m_log->clear();
    EXPECT_TRUE(request(k_panel, 4, TESK2_OPCODE_DISCONNECT).empty());
    ASSERT_EQ(m_core->sessions().size(), 1u);
    EXPECT_EQ(kes_address_port(&m_core->sessions()[0].address), 40002);
    EXPECT_EQ(request(k_panel, 5, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_NOT_CONNECTED);
    EXPECT_EQ(notices(), Lines({"Info qel-manager: client 127.0.0.1:40001 disconnected"}));
}

// ---- SET CONFIG and CLEAR SYSTEM ERROR ----

TEST_F(ManagerCoreTest, ValidSetConfigIsAppliedAnsweredAndAnnouncedToTheOthers) {
    connect(k_panel);
    connect(k_other);
    qel_config config = sampleConfig();
    config.channels = 8;
    config.sample_rate_hz = 96000;
    config.want_to_run = 0;
    std::memcpy(config.interface.mac, k_wlan0, QEL_MAC_SIZE);
    config.interface.name[0] = u'X'; // the name follows the interface's own

    const auto sent = request(k_panel, 21, QEL_OPCODE_SET_CONFIG, configBody(config));
    ASSERT_EQ(sent.size(), 2u);

    qel_state expected = sampleState();
    expected.config = config;
    std::memset(expected.config.interface.name, 0, sizeof expected.config.interface.name);
    std::memcpy(expected.config.interface.name, u"wlan0", sizeof u"wlan0");
    expected.link_up = 0;
    expected.link_speed = 0;
    std::memset(expected.ip_address, 0, 4);

    EXPECT_EQ(sent[0].toPort, 40001);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
    EXPECT_EQ(sent[0].opcode(), QEL_OPCODE_SET_CONFIG);
    EXPECT_EQ(sent[0].seqnum(), 21);
    EXPECT_TRUE(sameState(sent[0].state(), expected));

    EXPECT_EQ(sent[1].toPort, 40002);
    EXPECT_EQ(sent[1].status(), TESK2_STATUS_EVENT);
    EXPECT_EQ(sent[1].opcode(), QEL_EVENT_STATE);
    EXPECT_EQ(sent[1].seqnum(), 2);
    EXPECT_TRUE(sameState(sent[1].state(), expected));

    EXPECT_TRUE(sameState(m_core->state(), expected));
    ASSERT_EQ(m_saved.size(), 1u);
    EXPECT_TRUE(sameConfig(m_saved[0], expected.config));
}

TEST_F(ManagerCoreTest, TheSameConfigurationAgainIsAnnouncedButNotSaved) {
    connect(k_panel);
    connect(k_other);
    const auto sent = request(k_panel, 1, QEL_OPCODE_SET_CONFIG, configBody(sampleConfig()));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
    EXPECT_EQ(sent[1].toPort, 40002);
    EXPECT_TRUE(m_saved.empty());
}

TEST_F(ManagerCoreTest, InvalidSetConfigIsInvalidDataWithTheUnchangedState) {
    qel_config tooManyChannels = sampleConfig();
    tooManyChannels.channels = 64;
    tooManyChannels.sample_rate_hz = 96000; // at most 32 channels there
    qel_config unknownMac = sampleConfig();
    unknownMac.interface.mac[5] ^= 0xff;
    qel_config badAudio = sampleConfig();
    badAudio.audio_interface = 2;
    Bytes sixSlots = configBody(sampleConfig());
    sixSlots[1] = 6;
    Bytes truncated = configBody(sampleConfig());
    truncated.resize(40);

    struct Case {
        const char* what;
        Bytes body;
        const char* reason;
    };
    const Case cases[] = {
        {"64 channels at 96000 Hz", configBody(tooManyChannels), "not valid against the options"},
        {"unknown interface", configBody(unknownMac), "not valid against the options"},
        {"audio interface 2", configBody(badAudio), "not valid against the options"},
        {"empty body", {}, "the body does not decode"},
        {"six slots", sixSlots, "the body does not decode"},
        {"truncated", truncated, "the body does not decode"},
    };
    connect(k_panel);
    connect(k_other);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_log->clear();
        const auto sent = request(k_panel, 3, QEL_OPCODE_SET_CONFIG, c.body);
        ASSERT_EQ(sent.size(), 1u); // nothing for the other client
        EXPECT_EQ(sent[0].status(), QEL_STATUS_INVALID_DATA);
        EXPECT_STREQ(qel_status_name(sent[0].status()), "Invalid Data");
        EXPECT_EQ(sent[0].seqnum(), 3);
        EXPECT_EQ(sent[0].opcode(), QEL_OPCODE_SET_CONFIG);
        EXPECT_TRUE(sameState(sent[0].state(), sampleState()));
        EXPECT_TRUE(sameState(m_core->state(), sampleState()));
        const Lines lines = notices();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(std::string("Info qel-manager: client 127.0.0.1:40001: SET "
                                             "CONFIG refused: ") +
                                     c.reason,
                                 0),
                  0u)
            << lines[0];
    }
    EXPECT_TRUE(m_saved.empty());
}

TEST_F(ManagerCoreTest, SetConfigWhileLockedIsInvalidState) {
    connect(k_panel);
    Outbox out;
    m_core->setLock(QEL_CONFIG_LOCK_ASIO_CLIENT, out);
    qel_config config = sampleConfig();
    config.channels = 2;
    const auto sent = request(k_panel, 3, QEL_OPCODE_SET_CONFIG, configBody(config));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].status(), QEL_STATUS_INVALID_STATE);
    qel_state expected = sampleState();
    expected.config_lock_flags = QEL_CONFIG_LOCK_ASIO_CLIENT;
    EXPECT_TRUE(sameState(sent[0].state(), expected));
    EXPECT_TRUE(m_saved.empty());
}

TEST_F(ManagerCoreTest, ClearSystemErrorAnswersTheStateAndTellsTheOthersWhenItChanged) {
    connect(k_panel);
    connect(k_other);
    Outbox out;
    m_core->setSystemError(QEL_SYSTEM_ERROR_DRIVER_MISSING, out);
    auto announced = sentOf(out);
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_EQ(announced[0].toPort, 40001);
    EXPECT_EQ(announced[1].toPort, 40002);
    EXPECT_EQ(announced[0].state().system_error, 0x0201);

    auto sent = request(k_panel, 6, QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].toPort, 40001);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
    EXPECT_EQ(sent[0].opcode(), QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    EXPECT_TRUE(sameState(sent[0].state(), sampleState()));
    EXPECT_EQ(sent[1].toPort, 40002);
    EXPECT_EQ(sent[1].opcode(), QEL_EVENT_STATE);
    EXPECT_EQ(sent[1].seqnum(), 3);
    EXPECT_TRUE(sameState(sent[1].state(), sampleState()));

    // Nothing to clear: answered, nobody else told.
    sent = request(k_panel, 7, QEL_OPCODE_CLEAR_SYSTEM_ERROR);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_RESPONSE);
}

// ---- the 31 s rule ----

TEST_F(ManagerCoreTest, AClientSilentForMoreThan31SecondsIsForgotten) {
    connect(k_panel);
    m_clock.advance(20);
    ASSERT_EQ(request(k_panel, 1, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
    m_log->clear();

    m_clock.advance(31);
    m_core->tick();
    EXPECT_EQ(m_core->sessions().size(), 1u); // exactly 31 s: kept
    m_clock.advance(0, 1);
    m_core->tick();
    EXPECT_TRUE(m_core->sessions().empty());
    EXPECT_EQ(notices(), Lines({"Info qel-manager: client 127.0.0.1:40001 forgotten after 31 s "
                                "of silence"}));
    EXPECT_EQ(request(k_panel, 2, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_NOT_CONNECTED);
}

TEST_F(ManagerCoreTest, NotConnectedAnswersAndRefusedDatagramsAreNoSignOfLife) {
    connect(k_panel);
    m_clock.advance(30);
    const FakeClient stranger{40001, {9}};
    request(stranger, 1, TESK2_OPCODE_KEEPALIVE);
    send(k_panel, Bytes(10, 0));
    m_clock.advance(1, 1);
    m_core->tick();
    EXPECT_TRUE(m_core->sessions().empty());
}

// ---- malformed datagrams ----

TEST_F(ManagerCoreTest, MalformedDatagramsAreLoggedAndDropped) {
    connect(k_panel);
    Bytes wrongLength = requestBytes(k_panel, 1, TESK2_OPCODE_KEEPALIVE, {0, 0, 0, 0, 0, 0, 0, 0});
    wrongLength[3] = 30; // 28 bytes arrive
    Bytes otherProtocol = requestBytes(k_panel, 1, TESK2_OPCODE_KEEPALIVE);
    otherProtocol[1] = 0x02;
    Bytes response = requestBytes(k_panel, 1, TESK2_OPCODE_KEEPALIVE);
    response[9] = 0x01;
    Bytes event = requestBytes(k_panel, 1, QEL_EVENT_STATE);
    event[9] = 0x02;
    const Bytes huge = messageBytes(QEL_MANAGER_PROTOCOL, 1, TESK2_OPCODE_KEEPALIVE,
                                    TESK2_STATUS_REQUEST, Bytes(1453, 0));

    struct Case {
        Bytes bytes;
        const char* line;
    };
    const Case cases[] = {
        {{},
         "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: too short (0 < 20 "
         "bytes)"},
        {Bytes(19, 0x10), "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: too "
                          "short (19 < 20 bytes)"},
        {wrongLength, "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: length "
                      "field 30, but 28 bytes arrived"},
        {otherProtocol, "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: protocol "
                        "0x1002 is not 0x1001"},
        {response, "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: status 0x0001 "
                   "(Response) is not a request"},
        {event, "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: status 0x0002 "
                "(Event) is not a request"},
        {huge, "Warning qel-manager: dropped a datagram from 127.0.0.1:40001: too long (1473 > "
               "1472 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        m_log->clear();
        EXPECT_TRUE(send(k_panel, c.bytes).empty());
        EXPECT_EQ(m_log->unstamped(), Lines({c.line}));
    }
    // Still serving.
    EXPECT_EQ(m_core->sessions().size(), 1u);
    EXPECT_EQ(request(k_panel, 2, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
}

TEST_F(ManagerCoreTest, ADatagramWithoutAnIpv4SenderIsDropped) {
    const Bytes bytes = requestBytes(k_panel, 1, TESK2_OPCODE_CONNECT, connectBody());
    Outbox out;
    m_core->handleDatagram(bytes.data(), bytes.size(), kes_address{}, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(m_log->unstamped(),
              Lines({"Warning qel-manager: dropped a datagram: its sender has no IPv4 address"}));
}

// ---- modes ----

TEST_F(ManagerCoreTest, SilentModeAnswersNothingAndSendsTheChangesWhenItEnds) {
    connect(k_panel);
    Outbox out;
    m_core->setSilent(true, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(request(k_panel, 1, TESK2_OPCODE_KEEPALIVE).empty());
    EXPECT_TRUE(request(k_other, 1, TESK2_OPCODE_CONNECT, connectBody()).empty());
    EXPECT_TRUE(request(k_panel, 2, QEL_OPCODE_CLEAR_SYSTEM_ERROR).empty());
    m_core->setSystemError(QEL_SYSTEM_ERROR_PTP, out);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(m_core->sessions().size(), 1u);

    m_core->setSilent(false, out);
    const auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].opcode(), QEL_EVENT_STATE);
    EXPECT_EQ(sent[0].state().system_error, QEL_SYSTEM_ERROR_PTP);
    EXPECT_EQ(request(k_panel, 3, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
}

TEST_F(ManagerCoreTest, NotConnectedModeAnswersEveryRequestNotConnected) {
    connect(k_panel);
    Outbox out;
    m_core->setNotConnected(true, out);
    const uint16_t opcodes[] = {TESK2_OPCODE_CONNECT, TESK2_OPCODE_KEEPALIVE, QEL_OPCODE_SET_CONFIG,
                                QEL_OPCODE_CLEAR_SYSTEM_ERROR};
    for (uint16_t opcode : opcodes) {
        SCOPED_TRACE(opcode);
        const Bytes body = opcode == TESK2_OPCODE_CONNECT ? connectBody() : Bytes{};
        for (const FakeClient& client : {k_panel, k_other}) {
            const auto sent = request(client, 4, opcode, body);
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].status(), TESK2_STATUS_NOT_CONNECTED);
            EXPECT_EQ(sent[0].opcode(), opcode);
            EXPECT_EQ(sent[0].length(), 20);
        }
    }
    m_core->setLock(1, out);
    EXPECT_TRUE(out.empty()); // no events meanwhile
    m_core->setNotConnected(false, out);
    const auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].state().config_lock_flags, 1);
    EXPECT_EQ(request(k_panel, 5, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
}

TEST_F(ManagerCoreTest, RefuseModeAnswersEveryConnectTooManyClients) {
    connect(k_panel);
    connect(k_other);
    m_core->setRefuse(true);
    m_log->clear();
    const FakeClient newcomer{40003, {}};
    auto sent = request(newcomer, 1, TESK2_OPCODE_CONNECT, connectBody());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_TOO_MANY_CLIENTS);
    // A connected client that connects again is refused and loses its session.
    sent = request(k_other, 1, TESK2_OPCODE_CONNECT, connectBody());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].status(), TESK2_STATUS_TOO_MANY_CLIENTS);
    ASSERT_EQ(m_core->sessions().size(), 1u);
    // The others go on being served.
    EXPECT_EQ(request(k_panel, 2, TESK2_OPCODE_KEEPALIVE)[0].status(), TESK2_STATUS_RESPONSE);
    EXPECT_EQ(notices(),
              Lines({"Info qel-manager: client 127.0.0.1:40003 refused: refusing connections",
                     "Info qel-manager: client 127.0.0.1:40002 refused: refusing connections"}));
    m_core->setRefuse(false);
    connect(newcomer);
}

// ---- settings ----

TEST_F(ManagerCoreTest, SystemErrorLockAndLinkAreAnnouncedOnlyWhenTheyChange) {
    connect(k_panel);
    Outbox out;
    m_core->setSystemError(QEL_SYSTEM_ERROR_TAVRO, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Sent(out[0]).state().system_error, QEL_SYSTEM_ERROR_TAVRO);
    out.clear();
    m_core->setSystemError(QEL_SYSTEM_ERROR_TAVRO, out);
    EXPECT_TRUE(out.empty());

    m_core->setLock(0x0002, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Sent(out[0]).state().config_lock_flags, 0x0002);
    out.clear();

    m_core->setLink(false, out);
    ASSERT_EQ(out.size(), 1u);
    qel_state down = Sent(out[0]).state();
    EXPECT_EQ(down.link_up, 0u);
    EXPECT_EQ(down.link_speed, 0u);
    EXPECT_EQ(down.ip_address[0], 192); // the interface keeps its address
    EXPECT_TRUE(m_core->linkForcedDown());
    out.clear();
    m_core->setLink(true, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Sent(out[0]).state().link_up, 1u);
    EXPECT_EQ(Sent(out[0]).state().link_speed, 1000u);
    EXPECT_EQ(Sent(out[0]).seqnum(), 5);
}

TEST_F(ManagerCoreTest, TheStateFollowsTheConfiguredInterfaceByMac) {
    connect(k_panel);
    Outbox out;

    // Renamed and faster: the options and the state change, the name is saved.
    auto renamed = sampleInterfaces();
    renamed[0].name = u"enp3s0";
    renamed[0].speedMbps = 100;
    m_core->setInterfaces(renamed, out);
    auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 2u);
    qel_options options{};
    ASSERT_EQ(sent[0].decodeOptions(options), KES_SUCCESS);
    EXPECT_TRUE(options.interfaces.entries[0].name == std::u16string(u"enp3s0"));
    qel_state state = sent[1].state();
    EXPECT_EQ(std::u16string(state.config.interface.name), u"enp3s0");
    EXPECT_EQ(state.link_speed, 100u);
    ASSERT_EQ(m_saved.size(), 1u);
    EXPECT_EQ(std::u16string(m_saved[0].interface.name), u"enp3s0");

    // The same list again: nothing.
    out.clear();
    m_core->setInterfaces(renamed, out);
    EXPECT_TRUE(out.empty());

    // Gone: the configuration keeps it, the link is down.
    out.clear();
    m_core->setInterfaces({renamed[1]}, out);
    sent = sentOf(out);
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(sent[0].decodeOptions(options), KES_SUCCESS);
    EXPECT_EQ(options.interfaces.count, 1);
    state = sent[1].state();
    EXPECT_EQ(std::memcmp(state.config.interface.mac, k_eth0, QEL_MAC_SIZE), 0);
    EXPECT_EQ(state.link_up, 0u);
    EXPECT_EQ(state.link_speed, 0u);
    EXPECT_EQ(state.ip_address[0], 0);
    EXPECT_EQ(m_saved.size(), 1u);

    // Back again.
    out.clear();
    m_core->setInterfaces(sampleInterfaces(), out);
    EXPECT_EQ(sentOf(out).size(), 2u);
    EXPECT_TRUE(sameState(m_core->state(), sampleState()));
}

TEST_F(ManagerCoreTest, NoInterfaceChosenMeansLinkDown) {
    qel_config none = sampleConfig();
    std::memset(&none.interface, 0, sizeof none.interface);
    ManagerCore core(nullptr, bareOptions(), sampleInterfaces(), none);
    EXPECT_EQ(core.state().link_up, 0u);
    EXPECT_EQ(core.state().link_speed, 0u);
    EXPECT_EQ(core.state().ip_address[0], 0);
    EXPECT_STREQ(core.state().device_name, "Qelvane");
    EXPECT_EQ(std::u16string(core.state().dll_process_name), u"qel-manager");
}

TEST_F(ManagerCoreTest, InterfacesAreCutToWhatFitsInOneDatagram) {
    std::vector<ManagerInterface> many;
    for (uint8_t i = 0; i < 20; ++i) {
        const uint8_t mac[QEL_MAC_SIZE] = {0x02, 0, 0, 0, 0, static_cast<uint8_t>(i + 1)};
        many.push_back(makeInterface(std::u16string(63, static_cast<char16_t>(u'a' + i)), mac, true,
                                     1000, {10, 0, 0, i}));
    }
    Outbox out;
    m_core->setInterfaces(many, out);
    const size_t offered = m_core->interfaces().size();
    EXPECT_GT(offered, 0u);
    EXPECT_LT(offered, 16u);
    EXPECT_EQ(m_core->options().interfaces.count, offered);
    EXPECT_TRUE(ManagerCore::optionsFit(m_core->options()));
    EXPECT_EQ(notices(), Lines({"Warning qel-manager: offering " + std::to_string(offered) +
                                " of 20 interfaces: the options must fit in one datagram and "
                                "hold at most 16"}));
    // The same list again is not reported again.
    m_log->clear();
    m_core->setInterfaces(many, out);
    EXPECT_TRUE(notices().empty());
}

TEST_F(ManagerCoreTest, NewOptionsAreAnnouncedAndAnInvalidConfigurationFallsBack) {
    connect(k_panel);
    Outbox out;

    // Options that still hold the configuration in force: only the options change.
    qel_options wider = bareOptions();
    wider.channel_counts.entries[wider.channel_counts.count++] = 128;
    qel_config fallback = sampleConfig();
    fallback.channels = 2;
    m_core->setOptions(wider, sampleInterfaces(), fallback, out);
    auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].opcode(), QEL_EVENT_OPTIONS);
    EXPECT_TRUE(sameConfig(m_core->config(), sampleConfig()));

    // Options without 48000 Hz: the fallback takes over and is saved.
    out.clear();
    qel_options narrower = bareOptions();
    narrower.sample_rates.count = 1; // 44100 Hz only
    narrower.sample_rates.entries[1] = {0, 0};
    narrower.sample_rates.entries[2] = {0, 0};
    fallback.sample_rate_hz = 44100;
    m_core->setOptions(narrower, sampleInterfaces(), fallback, out);
    sent = sentOf(out);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].opcode(), QEL_EVENT_OPTIONS);
    EXPECT_EQ(sent[1].opcode(), QEL_EVENT_STATE);
    EXPECT_TRUE(sameConfig(sent[1].state().config, fallback));
    ASSERT_EQ(m_saved.size(), 1u);
    EXPECT_TRUE(sameConfig(m_saved[0], fallback));
    EXPECT_EQ(notices().back(), "Warning qel-manager: the configuration in force is not valid "
                                "against the new options; using the default configuration");
}

TEST_F(ManagerCoreTest, NewOptionsOfferTheNewInterfaces) {
    connect(k_panel);
    Outbox out;
    m_core->setOptions(bareOptions(), {sampleInterfaces()[1]}, sampleConfig(), out);
    const auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 2u);
    qel_options options{};
    ASSERT_EQ(sent[0].decodeOptions(options), KES_SUCCESS);
    ASSERT_EQ(options.interfaces.count, 1);
    EXPECT_EQ(std::u16string(options.interfaces.entries[0].name), u"wlan0");
    // eth0 is gone but stays configured, with link down.
    EXPECT_EQ(sent[1].state().link_up, 0u);
    EXPECT_TRUE(sameConfig(m_core->config(), sampleConfig()));
}

TEST_F(ManagerCoreTest, EventSeqnumsWrapAt16Bits) {
    connect(k_panel); // events 0 and 1
    Outbox out;
    for (uint32_t i = 0; i < 65534; ++i) {
        m_core->setSystemError(static_cast<uint16_t>(i % 2 == 0 ? 1 : 2), out);
        ASSERT_EQ(out.size(), 1u);
        out.clear();
    }
    m_core->setSystemError(7, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(Sent(out[0]).seqnum(), 0); // 2 + 65534 events later
}

TEST_F(ManagerCoreTest, ABurstNumbersItsStatesByAddressAndLeavesTheStateInForce) {
    connect(k_panel);
    connect(k_other);
    Outbox out;
    EXPECT_EQ(m_core->burstState(255, 2, out), 4u);
    const auto sent = sentOf(out);
    ASSERT_EQ(sent.size(), 4u);
    const uint8_t addresses[2][QEL_IP_ADDRESS_SIZE] = {{10, 0, 0, 255}, {10, 0, 1, 0}};
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        qel_state expected = sampleState();
        std::memcpy(expected.ip_address, addresses[i / 2], QEL_IP_ADDRESS_SIZE);
        EXPECT_EQ(sent[i].status(), TESK2_STATUS_EVENT);
        EXPECT_EQ(sent[i].opcode(), QEL_EVENT_STATE);
        EXPECT_EQ(sent[i].toPort, i % 2 == 0 ? k_panel.port : k_other.port);
        EXPECT_TRUE(sameState(sent[i].state(), expected));
    }
    EXPECT_TRUE(sameState(m_core->state(), sampleState()));
    EXPECT_TRUE(m_saved.empty());

    out.clear();
    m_core->setSilent(true, out);
    EXPECT_EQ(m_core->burstState(1, 10, out), 0u);
    EXPECT_TRUE(out.empty());
}

TEST(ManagerCoreStatic, InfoCarriesTheProjectVersionAndASuffix) {
    const qel_info info = ManagerCore::info();
    EXPECT_EQ(info.first_value, QEL_CLIENT_API_VERSION);
    EXPECT_EQ(info.major, QEL_VERSION_MAJOR);
    EXPECT_EQ(info.minor, QEL_VERSION_MINOR);
    EXPECT_EQ(info.build, QEL_VERSION_PATCH);
    EXPECT_STREQ(info.suffix, "-stand");
}

TEST(ManagerCoreStatic, AddressText) {
    kes_address address{};
    ASSERT_EQ(kes_address_set_ipv4(&address, KES_FAMILY_IPV4, "127.0.0.1", 8899), KES_SUCCESS);
    EXPECT_EQ(managerAddressText(address), "127.0.0.1:8899");
    EXPECT_EQ(managerAddressText(kes_address{}), "?");
}

} // namespace
} // namespace qeltest
