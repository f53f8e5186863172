// Keepalives and the liveness check, on the test clock: sends after 10 s
// without a send, disconnection after 31 s without a valid message, to the
// microsecond, and the deadline the owner waits for.
#include "client_fixture.h"

namespace qeltest {
namespace {

using Lines = std::vector<std::string>;

class KeepaliveTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        enableKeepalive();
    }
    kes_time at(int64_t seconds, int32_t micros = 0) const {
        return kes_time{k_start.seconds + seconds, micros};
    }
    kes_time deadline() const {
        kes_time d{-1, -1};
        EXPECT_EQ(tesk2_client_next_deadline(m_client, &d), KES_SUCCESS);
        return d;
    }
    bool contains(const std::string& line) const {
        Lines all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
};

TEST_F(KeepaliveTest, DisconnectsOneMicrosecondAfter31SecondsOfSilence) {
    connect(); // the connect response is the last valid message, at the start
    m_clock.set(at(31));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
    EXPECT_TRUE(m_notes.empty());
    kes_time before = deadline();
    m_peer.drain();
    m_log->clear();

    m_clock.set(at(31, 1));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
    ASSERT_EQ(m_notes.size(), 1u);
    EXPECT_EQ(m_notes[0].flags, TESK2_NOTIFY_CONNECTION | TESK2_NOTIFY_LIVENESS);
    EXPECT_EQ(m_notes[0].request, nullptr);
    EXPECT_FALSE(m_notes[0].hasMessage);
    EXPECT_EQ(m_notes[0].result, KES_TIMEDOUT);
    EXPECT_EQ(lines(), (Lines{"Verbose tesk2_client_process: starting",
                              "Verbose tesk2_client_process: timed out",
                              "Error tesk2_client_check_keepalives: server has disappeared, "
                              "disconnecting!"}));
    EXPECT_EQ(deadline(), before) << "the deadline stays as the last check left it";
    EXPECT_TRUE(m_peer.idle()) << "no keepalive after the disconnection";

    // A disconnected client checks no more.
    m_notes.clear();
    m_clock.advance(100);
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(m_notes.empty());
}

TEST_F(KeepaliveTest, SendsAKeepaliveAfterTenSecondsWithoutASend) {
    connect(); // seqnum 0
    m_clock.set(at(10));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(m_peer.idle()) << "exactly 10 s is not yet past the interval";
    EXPECT_EQ(deadline(), at(10));

    m_clock.set(at(10, 1));
    m_log->clear();
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(contains("Verbose tesk2_client_check_keepalives: keepalive interval has expired, "
                         "sending keepalive!"));
    Datagram keepalive;
    ASSERT_TRUE(m_peer.receive(keepalive));
    kes_address local{};
    kes_socket_local_address(m_socket, &local);
    uint16_t port = kes_address_port(&local);
    EXPECT_EQ(keepalive.bytes, (std::vector<uint8_t>{0x10,
                                                     0x01,
                                                     0,
                                                     20,
                                                     0,
                                                     1,
                                                     0,
                                                     0,
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
                                                     0}));
    EXPECT_EQ(m_client->last_send, at(10, 1));
    EXPECT_EQ(deadline(), at(10)) << "computed before the keepalive went out: process again";
    EXPECT_TRUE(m_notes.empty());

    // Its answer is a sign of life and nothing more.
    m_clock.set(at(12));
    m_log->clear();
    m_peer.reply(keepalive, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_TRUE(contains("Verbose tesk2_client_process: Got a keepalive response"));
    EXPECT_TRUE(m_notes.empty());
    EXPECT_EQ(m_client->last_receive, at(12));
    EXPECT_EQ(deadline(), at(20, 1));

    // The next request takes the next seqnum of the shared counter.
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    Datagram request;
    ASSERT_TRUE(m_peer.receive(request));
    EXPECT_EQ(request.seqnum, 2);
}

TEST_F(KeepaliveTest, ARecentRequestPostponesTheKeepalive) {
    connect();
    m_clock.set(at(5));
    ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
    Datagram request;
    ASSERT_TRUE(m_peer.receive(request));
    m_peer.reply(request, TESK2_STATUS_RESPONSE);
    ASSERT_EQ(process(), KES_SUCCESS);

    m_clock.set(at(10, 1));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(m_peer.idle());
    EXPECT_EQ(deadline(), at(15)) << "the earlier of 5+10 (send) and 5+31 (receive)";

    m_clock.set(at(15, 1));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    Datagram keepalive;
    ASSERT_TRUE(m_peer.receive(keepalive));
    EXPECT_EQ(keepalive.opcode, TESK2_OPCODE_KEEPALIVE);
}

TEST_F(KeepaliveTest, TheReceiveRuleGivesTheDeadlineWhenItComesFirst) {
    connect();
    // Keep sending (no keepalive needed) while the server stays silent.
    for (int s = 9; s <= 27; s += 9) {
        m_clock.set(at(s));
        ASSERT_EQ(sendRequest(k_set_config), KES_SUCCESS);
        tesk2_client_request_release(m_request);
        ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    }
    EXPECT_EQ(deadline(), at(31));
    m_peer.drain();
}

TEST_F(KeepaliveTest, NoDeadlineBeforeTheFirstCheckOrWithoutKeepalives) {
    EXPECT_EQ(deadline(), (kes_time{0, 0}));
    connect();
    EXPECT_EQ(deadline(), at(10)) << "the connect response's call ran the first check";

    tesk2_client* plain = tesk2_client_new(m_env);
    kes_time d{5, 5};
    EXPECT_EQ(tesk2_client_next_deadline(plain, &d), KES_SUCCESS);
    EXPECT_EQ(d, (kes_time{0, 0}));
    EXPECT_EQ(tesk2_client_next_deadline(plain, nullptr), KES_INVALIDPARAMETER);
    tesk2_client_free(plain);
}

TEST_F(KeepaliveTest, NotConnectedAnswersDoNotKeepTheConnectionAlive) {
    connect();
    for (int s : {11, 21, 31}) {
        m_clock.set(at(s));
        m_peer.send(TESK2_STATUS_NOT_CONNECTED, 0x4000, 0);
        ASSERT_EQ(process(), KES_SUCCESS);
        EXPECT_EQ(m_client->last_receive, at(0));
    }
    m_peer.drain();
    m_clock.set(at(31, 1));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
}

TEST_F(KeepaliveTest, AClockJumpDisconnectsUnlessAValidMessageFollowsIt) {
    connect();
    m_clock.set(at(40));
    m_peer.send(TESK2_STATUS_EVENT, 9, 0x0102);
    ASSERT_EQ(process(), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTED);
    m_peer.drain();

    m_clock.advance(3600);
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_DISCONNECTED);
    EXPECT_TRUE(
        contains("Error tesk2_client_check_keepalives: server has disappeared, disconnecting!"));
}

TEST_F(KeepaliveTest, NothingIsCheckedWhileConnecting) {
    sendConnect();
    m_clock.set(at(60));
    ASSERT_EQ(tesk2_client_process(m_client), KES_SUCCESS);
    EXPECT_TRUE(m_peer.idle());
    EXPECT_EQ(tesk2_client_get_state(m_client), TESK2_CONNECTING);
    EXPECT_EQ(deadline(), (kes_time{0, 0}));
}

TEST_F(KeepaliveTest, EnablingRefusesMissingArguments) {
    kes_time span{10, 0};
    EXPECT_EQ(tesk2_client_enable_keepalive(m_client, 0, &span, &span), KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_client_enable_keepalive(m_client, 0x1001, nullptr, &span),
              KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_client_enable_keepalive(m_client, 0x1001, &span, nullptr),
              KES_INVALIDPARAMETER);
    EXPECT_EQ(tesk2_client_enable_keepalive(nullptr, 0x1001, &span, &span), KES_INVALIDPARAMETER);
}

} // namespace
} // namespace qeltest
