// The protocol client against a scripted peer: every row of the notification
// table, the request slot, sequence numbers, malformed datagrams and the
// exact log lines.
#include "client_fixture.h"
#include "test_platform.h"

namespace qeltest {
namespace {

using Lines = std::vector<std::string>;

TEST_F(ClientTest, ConnectRequestGoesOutWithTheIdentityAndSeqnumZero) {
    kes_address local{};
    ASSERT_EQ(kes_socket_local_address(m_socket, &local), KES_SUCCESS);
    uint16_t port = kes_address_port(&local);
    Datagram d = sendConnect();
    std::vector<uint8_t> expected = {0x10,
                                     0x01,
                                     0x00,
                                     24,
                                     0,
                                     0,
                                     0,
                                     1,
                                     0,
                                     0,
                                     static_cast<uint8_t>(port >> 8),
                                     static_cast<uint8_t>(port),
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0,
                                     0x00,
                                     0x01,
                                     0x00,
                                     0x03};
    EXPECT_EQ(d.bytes, expected);
}

TEST_F(ClientTest, InitialiseLogsTheIdentityAndRefusesAnInvalidSocket) {
    kes_address local{};
    kes_socket_local_address(m_socket, &local);
    m_log->clear();
    tesk2_client* other = tesk2_client_new(m_env);
    ASSERT_EQ(tesk2_client_initialise(other, nullptr, m_socket), KES_SUCCESS);
    EXPECT_EQ(lines(), Lines{"Debug tesk2_client_initialise: Client id is now 0000000000000000:" +
                             std::to_string(kes_address_port(&local))});
    EXPECT_EQ(tesk2_client_initialise(other, nullptr, KES_INVALID_SOCKET), KES_INVALIDPARAMETER);
    tesk2_client_id given{{1, 2, 3, 4, 5, 6, 7, 0xab}, 4242};
    m_log->clear();
    ASSERT_EQ(tesk2_client_initialise(other, &given, m_socket), KES_SUCCESS);
    EXPECT_EQ(lines(),
              Lines{"Debug tesk2_client_initialise: Client id is now 01020304050607ab:4242"});
    tesk2_client_free(other);
}

// --- The notification table, row by row -----------------------------------

TEST_F(ClientTest, ConnectSentNotifiesConnectionWithTheOutstandingRequest) {
    sendConnect();
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION);
    EXPECT_EQ(m_notes[0].request, m_request);
    EXPECT_TRUE(m_notes[0].requestInUse);
    EXPECT_FALSE(m_notes[0].hasMessage);
    EXPECT_EQ(m_notes[0].result, KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTING);
}

TEST_F(ClientTest, ConnectResponseGivesExactlyOneNotification) {
    struct Case {
        uint16_t status;
        uint32_t state;
    };
    for (Case c : {Case{TESK2_STATUS_RESPONSE, TESK2_CONNECTED},
                   Case{TESK2_STATUS_TOO_MANY_CLIENTS, TESK2_DISCONNECTED},
                   Case{0x0100, TESK2_DISCONNECTED}}) {
        SCOPED_TRACE(c.status);
        if (tesk2_client_get_state(m_client) == TESK2_CONNECTED) {
            ASSERT_EQ(sendRequest(TESK2_OPCODE_DISCONNECT), KES_SUCCESS);
            m_peer.drain();
        }
        Datagram d = sendConnect();
        m_notes.clear();
        m_peer.reply(d, c.status);
        ASSERT_EQ(process(), KES_SUCCESS);
        ASSERT_EQ(m_notes.size(), 1u);
        EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION | TESK2_NOTIFY_RESPONSE);
        EXPECT_EQ(m_notes[0].request, m_request);
        EXPECT_FALSE(m_notes[0].requestInUse) << "released before the callback";
        EXPECT_TRUE(m_notes[0].hasMessage);
        EXPECT_EQ(m_notes[0].status, c.status);
        EXPECT_EQ(m_notes[0].stateDuring, c.state);
        EXPECT_EQ(tesk2_client_get_state(m_client), c.state);
        // The slot's message still holds the request as sent.
        EXPECT_EQ(tesk2_message_opcode(tesk2_request_message(m_request)), TESK2_OPCODE_CONNECT);
    }
}

TEST_F(ClientTest, DisconnectSentReleasesTheSlotBeforeNotifying) {
    connect();
    ASSERT_EQ(sendRequest(TESK2_OPCODE_DISCONNECT), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION);
    EXPECT_EQ(m_notes[0].request, m_request);
    EXPECT_FALSE(m_notes[0].requestInUse);
    EXPECT_EQ(m_notes[0].stateDuring, TESK2_DISCONNECTED);
    EXPECT_EQ(m_client->requests_in_use, 0u);
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    EXPECT_EQ(d.opcode, TESK2_OPCODE_DISCONNECT);
    EXPECT_EQ(d.length, 20);
}

TEST_F(ClientTest, DisconnectToAVanishedServerStillDisconnects) {
    connect();
    m_peer.close();
    // A request to the closed port makes the kernel report it unreachable.
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    tesk2_client_request_release(m_request);
    ASSERT_TRUE(waitUnreachable(m_socket));
    m_notes.clear();
    EXPECT_EQ(sendRequest(TESK2_OPCODE_DISCONNECT), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION);
    if (qeltest::k_sendReportsUnreachable) {
        EXPECT_EQ(m_notes[0].request, nullptr) << "the send failed";
    } else {
        EXPECT_EQ(m_notes[0].request, m_request) << "the send went out (Windows)";
    }
    EXPECT_EQ(m_notes[0].result, KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
    EXPECT_EQ(m_client->requests_in_use, 0u);
}

TEST_F(ClientTest, ResetWhileConnectingNotifiesAndReturnsConnReset) {
    m_peer.close();
    ASSERT_EQ(sendRequest(TESK2_OPCODE_CONNECT, {0, 1, 0, 3}), KES_SUCCESS);
    m_notes.clear();
    EXPECT_EQ(process(), KES_CONNRESET);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION);
    EXPECT_EQ(m_notes[0].request, nullptr);
    EXPECT_FALSE(m_notes[0].hasMessage);
    EXPECT_EQ(m_notes[0].result, KES_CONNRESET);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
    EXPECT_EQ(lines(),
              (Lines{"Verbose tesk2_client_process: starting",
                     "Error tesk2_client_process: error recving (CONNRESET): disconnecting"}));
}

TEST_F(ClientTest, OrdinaryResponseWhileConnectedReleasesAndNotifies) {
    connect();
    ASSERT_EQ(sendRequest(k_set_config, {1, 2}), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty()) << "an ordinary request is sent without a notification";
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    m_peer.reply(d, 0x0101, {9, 9});
    ASSERT_EQ(process(), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_RESPONSE);
    EXPECT_EQ(m_notes[0].request, m_request);
    EXPECT_FALSE(m_notes[0].requestInUse);
    EXPECT_EQ(m_notes[0].seqnum, d.seqnum);
    EXPECT_EQ(m_notes[0].status, 0x0101);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
}

TEST_F(ClientTest, ConnectResponseOutsideConnectingOnlyAnswersTheRequest) {
    connect();
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    m_peer.send(TESK2_STATUS_TOO_MANY_CLIENTS, d.seqnum, TESK2_OPCODE_CONNECT);
    ASSERT_EQ(process(), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_RESPONSE);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
}

TEST_F(ClientTest, EventsReachTheOwnerOnlyWhileConnected) {
    enableKeepalive();
    sendConnect();
    m_notes.clear();
    m_clock.advance(3);
    m_peer.send(TESK2_STATUS_EVENT, 77, 0x0102, {1, 2, 3, 4});
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty()) << "an event while connecting is dropped";
    EXPECT_EQ(m_client->last_receive, m_clock.now()) << "but it is a sign of life";

    tesk2_client_free(m_client);
    m_client = tesk2_client_new(m_env);
    tesk2_client_initialise(m_client, nullptr, m_socket);
    tesk2_client_set_context(m_client, this);
    tesk2_client_set_callback(m_client, &ClientTest::onNotify);
    m_peer.drain();
    connect();
    m_peer.send(TESK2_STATUS_EVENT, 77, 0x0102, {1, 2, 3, 4});
    ASSERT_EQ(process(), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_EVENT);
    EXPECT_EQ(m_notes[0].request, nullptr);
    EXPECT_EQ(m_notes[0].opcode, 0x0102);
    EXPECT_EQ(m_notes[0].seqnum, 77);
}

TEST_F(ClientTest, ProcessingSomeReadsAtMostTheLimitAndLeavesTheRest) {
    enableKeepalive();
    connect();
    m_notes.clear();
    for (uint16_t seqnum = 1; seqnum <= 5; ++seqnum) {
        m_peer.send(TESK2_STATUS_EVENT, seqnum, 0x0102, {1, 2, 3, 4});
    }
    EXPECT_EQ(tesk2_client_process_some(m_client, 0), KES_INVALIDPARAMETER);
    ASSERT_TRUE(waitReadable(m_socket));
    ASSERT_EQ(tesk2_client_process_some(m_client, 2), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 2u);
    EXPECT_EQ(m_notes[1].seqnum, 2);
    ASSERT_EQ(process(), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 5u) << "the rest, in order";
    EXPECT_EQ(m_notes[2].seqnum, 3);
    EXPECT_EQ(m_notes[4].seqnum, 5);
}

// --- The request slot --------------------------------------------------------

TEST_F(ClientTest, RefusesOpcodesTheStateDoesNotAllowAndFreesTheSlot) {
    EXPECT_EQ(sendRequest(k_set_config), KES_INVALIDSTATE);
    EXPECT_EQ(m_client->requests_in_use, 0u);
    EXPECT_EQ(sendRequest(TESK2_OPCODE_DISCONNECT), KES_INVALIDSTATE);
    sendConnect();
    EXPECT_EQ(sendRequest(k_set_config), KES_NOBUFS) << "the connect is still outstanding";
    tesk2_client_request_release(m_request);
    tesk2_client_request_release(m_request); // a free slot stays free
    EXPECT_EQ(m_client->requests_in_use, 0u);
    EXPECT_EQ(sendRequest(TESK2_OPCODE_CONNECT), KES_INVALIDSTATE) << "while connecting";
    EXPECT_TRUE(m_peer.idle()) << "refused requests are never sent";
}

TEST_F(ClientTest, RefusesASecondConnectWhileConnected) {
    connect();
    EXPECT_EQ(sendRequest(TESK2_OPCODE_CONNECT), KES_INVALIDSTATE);
    EXPECT_EQ(m_client->requests_in_use, 0u);
    tesk2_request* request = nullptr;
    EXPECT_EQ(tesk2_client_request_alloc(m_client, nullptr), KES_INVALIDPARAMETER);
    ASSERT_EQ(tesk2_client_request_alloc(m_client, &request), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_request_alloc(m_client, &request), KES_NOBUFS);
}

// A length field outside the datagram would make the send read past the
// message: refused before a sequence number is taken, nothing sent.
TEST_F(ClientTest, ARequestWhoseLengthLiesOutsideTheDatagramIsNeverSent) {
    connect(); // seqnum 0
    for (uint16_t length : {uint16_t{0}, uint16_t{19}, uint16_t{1473}, uint16_t{65535}}) {
        SCOPED_TRACE(length);
        tesk2_request* request = nullptr;
        ASSERT_EQ(tesk2_client_request_alloc(m_client, &request), KES_SUCCESS);
        tesk2_message* message = tesk2_request_message(request);
        tesk2_message_set_header(message, k_protocol, k_set_config);
        tesk2_message_add_length(message, static_cast<uint16_t>(length - TESK2_HEADER_SIZE));
        ASSERT_EQ(tesk2_message_length(message), length);
        EXPECT_EQ(tesk2_client_send_request(request), KES_MSGSIZE);
        EXPECT_EQ(m_client->seqnum, 1) << "no sequence number taken";
        EXPECT_EQ(lines().back(),
                  "Error tesk2_client_send: message length " + std::to_string(length) + " refused");
        tesk2_client_request_release(request);
    }
    EXPECT_TRUE(m_peer.idle());
    // The longest datagram still goes.
    ASSERT_EQ(sendRequest(k_set_config, std::vector<uint8_t>(TESK2_PAYLOAD_MAX, 7)), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    EXPECT_EQ(d.bytes.size(), TESK2_DATAGRAM_MAX);
}

TEST_F(ClientTest, SeqnumsStartAtZeroAndWrapAfter65536Sends) {
    connect(); // seqnum 0
    Datagram d;
    for (uint32_t i = 1; i <= 65536; ++i) {
        ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
        tesk2_client_request_release(m_request);
        if (i >= 65535) {
            ASSERT_TRUE(m_peer.receive(d));
            EXPECT_EQ(d.seqnum, i % 65536);
        } else if (i % 64 == 0 || i == 65534) {
            m_peer.drain();
        }
    }
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    m_peer.drain();
    EXPECT_EQ(m_client->seqnum, 2);
}

// --- Malformed and stray datagrams ---------------------------------------------

TEST_F(ClientTest, DropsMalformedDatagramsWithoutCountingThemAsLife) {
    enableKeepalive();
    connect();
    kes_time lastValid = m_client->last_receive;
    m_clock.advance(2);
    std::vector<uint8_t> tooSmall = messageBytes(k_protocol, 1, 0x0102, TESK2_STATUS_EVENT);
    tooSmall.resize(19);
    m_peer.sendBytes(tooSmall);
    std::vector<uint8_t> wrongLength =
        messageBytes(k_protocol, 1, 0x0102, TESK2_STATUS_EVENT, {1, 2, 3, 4, 5, 6, 7, 8}, 30);
    m_peer.sendBytes(wrongLength);
    m_peer.sendBytes({});
    ASSERT_TRUE(waitReadable(m_socket));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty());
    EXPECT_EQ(m_client->last_receive, lastValid);
    Lines all = lines();
    auto contains = [&](const std::string& line) {
        return std::find(all.begin(), all.end(), line) != all.end();
    };
    EXPECT_TRUE(contains("Warning tesk2_client_process: message too small (19 < 20)"));
    EXPECT_TRUE(
        contains("Warning tesk2_client_process: invalid size in message (msg=30, recved=28)"));
    EXPECT_TRUE(contains("Warning tesk2_client_process: message too small (0 < 20)"));
    EXPECT_TRUE(contains("Verbose tesk2_client_process: read a message (size=19 source="));
}

TEST_F(ClientTest, AnOversizeDatagramFailsOneCallAndTheNextGoesOn) {
    connect();
    m_peer.sendBytes(std::vector<uint8_t>(1473, 0x55));
    m_peer.send(TESK2_STATUS_EVENT, 5, 0x0100);
    ASSERT_TRUE(waitReadable(m_socket));
    EXPECT_EQ(tesk2_client_process(m_client), KES_MSGSIZE);
    EXPECT_EQ(lines(), (Lines{"Verbose tesk2_client_process: starting",
                              "Error tesk2_client_process: error recving: message too long: "
                              "(0x001f=MSGSIZE)"}));
    EXPECT_TRUE(m_notes.empty());
    EXPECT_EQ(process(), KES_SUCCESS);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].opcode, 0x0100);
}

TEST_F(ClientTest, ALateAnswerToAReleasedRequestIsLoggedAndIgnored) {
    connect();
    ASSERT_EQ(sendRequest(TESK2_OPCODE_DISCONNECT), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    m_notes.clear();
    m_log->clear();
    m_peer.reply(d, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty());
    EXPECT_EQ(lines()[2], "Info tesk2_client_process: No active request for non-event message "
                          "with seqnum 0x0001: ignoring message");
}

TEST_F(ClientTest, AResponseWhileNotConnectedIsDroppedAndTheRequestStays) {
    enableKeepalive();
    connect();
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    Datagram d;
    ASSERT_TRUE(m_peer.receive(d));
    m_clock.advance(31, 1);
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    ASSERT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
    m_notes.clear();
    m_peer.reply(d, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty());
    EXPECT_TRUE(m_request->in_use);
}

TEST_F(ClientTest, NothingWaitingLogsStartingAndTimedOut) {
    EXPECT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_EQ(lines(), (Lines{"Verbose tesk2_client_process: starting",
                              "Verbose tesk2_client_process: timed out"}));
    EXPECT_EQ(tesk2_client_process(nullptr), KES_INVALIDPARAMETER);
}

TEST_F(ClientTest, WithoutACallbackStateAndSlotsStillChange) {
    tesk2_client_set_callback(m_client, nullptr);
    Datagram d = sendConnect();
    m_peer.reply(d, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
    EXPECT_EQ(m_client->requests_in_use, 0u);
    EXPECT_TRUE(m_notes.empty());
}

} // namespace
} // namespace qeltest
