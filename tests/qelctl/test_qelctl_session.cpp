// qelctl against a scripted manager in the test's own process, on the test
// clock: answers that cannot be read, answers that never come, refusals and
// lost contact, each with its message, its exit status, and a DISCONNECT
// whenever a connection was begun.
#include "qelctl_run.h"

#include "qel_codec.h"
#include "record_builders.h"
#include "scripted_peer.h"
#include "test_clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qeltest {
namespace {

using Args = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes encoded(kes_result (*encode)(const Record*, tesk2_message*), const Record& record) {
    tesk2_message message;
    tesk2_message_init(&message);
    tesk2_message_set_header(&message, QEL_MANAGER_PROTOCOL, 0);
    EXPECT_EQ(encode(&record, &message), KES_SUCCESS);
    const uint8_t* body = tesk2_message_payload(&message);
    return Bytes(body, body + tesk2_message_body_size(&message));
}

Bytes infoBody() {
    qel_info info{};
    info.major = 1;
    info.minor = 4;
    info.build = 2;
    return encoded(&qel_info_encode, info);
}

// The scripts below play the manager through these.
class ScriptedManager : public ::testing::Test {
public:
    Args args(const Args& rest) {
        Args all{"--port", std::to_string(peer.port())};
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }
    Datagram expect(uint16_t opcode) {
        Datagram datagram;
        EXPECT_TRUE(peer.receive(datagram)) << "waiting for opcode " << opcode;
        EXPECT_EQ(datagram.opcode, opcode);
        return datagram;
    }
    void answerConnect() { peer.reply(expect(TESK2_OPCODE_CONNECT), 0x01, infoBody()); }
    void sendOptions() {
        peer.send(TESK2_STATUS_EVENT, 0, QEL_EVENT_OPTIONS,
                  encoded(&qel_options_encode, sampleOptions()));
    }
    void sendState() {
        peer.send(TESK2_STATUS_EVENT, 1, QEL_EVENT_STATE,
                  encoded(&qel_state_encode, sampleState()));
    }
    // Moves the clock past every limit until the command ends.
    int runOut(QelctlThread& command) {
        for (int i = 0; i < 100; ++i) {
            const int status = command.wait(5);
            if (status != -1) {
                return status;
            }
            clock.advance(6);
            waker.tick();
        }
        return -1;
    }
    // Whether the command's last word was a DISCONNECT (it has ended, so
    // anything it sent is waiting). A slow run may have moved the clock past
    // a keepalive before: only the last word counts.
    bool disconnected() {
        Datagram datagram;
        uint16_t last = 0;
        while (peer.receive(datagram, 0)) {
            last = datagram.opcode;
        }
        return last == TESK2_OPCODE_DISCONNECT;
    }

    TestClock clock;
    ScriptedPeer peer;
    qelctl::Waker waker;
};

struct Script {
    const char* what;
    Args args;
    std::function<void(ScriptedManager&)> play;
    int exit;
    std::string err;
    bool disconnects;
};

TEST_F(ScriptedManager, SaysWhatWentWrongWithEveryAnswer) {
    auto connected = [](ScriptedManager& m) {
        m.answerConnect();
        m.sendOptions();
        m.sendState();
    };
    const Script scripts[] = {
        {"info that cannot be read",
         {"status"},
         [](ScriptedManager& m) { m.peer.reply(m.expect(TESK2_OPCODE_CONNECT), 0x01, {0x01}); },
         3,
         "qelctl: Error reading the manager's info: invalid parameter\n",
         true},
        {"a refused CONNECT",
         {"status"},
         [](ScriptedManager& m) { m.peer.reply(m.expect(TESK2_OPCODE_CONNECT), 0x82); },
         3,
         "qelctl: Error waiting for connection response from manager: connection refused (the "
         "manager answered Too many clients)\n",
         false},
        {"no answer to CONNECT",
         {"status"},
         [](ScriptedManager& m) { m.expect(TESK2_OPCODE_CONNECT); },
         3,
         "qelctl: Error waiting for connection response from manager: operation timed out\n",
         true},
        {"options that cannot be read",
         {"options"},
         [](ScriptedManager& m) {
             m.answerConnect();
             m.peer.send(TESK2_STATUS_EVENT, 0, QEL_EVENT_OPTIONS, {0, 0, 0});
         },
         3,
         "qelctl: Error waiting for options from manager: operation timed out (an options event "
         "arrived that could not be read: no data)\n",
         true},
        {"no state",
         {"status"},
         [](ScriptedManager& m) {
             m.answerConnect();
             m.sendOptions();
         },
         3,
         "qelctl: Error waiting for state from manager: operation timed out\n",
         true},
        {"an answer to SET CONFIG that cannot be read",
         {"set", "power=off"},
         [&](ScriptedManager& m) {
             connected(m);
             m.peer.reply(m.expect(QEL_OPCODE_SET_CONFIG), 0x01, {1, 2, 3});
         },
         3,
         "qelctl: The manager's answer to SET CONFIG could not be read: invalid parameter\n",
         true},
        {"SET CONFIG refused",
         {"set", "power=off"},
         [&](ScriptedManager& m) {
             connected(m);
             m.peer.reply(m.expect(QEL_OPCODE_SET_CONFIG), QEL_STATUS_INVALID_DATA,
                          encoded(&qel_state_encode, sampleState()));
         },
         1,
         "qelctl: The manager refused the configuration: Invalid Data\n",
         true},
        {"no answer to SET CONFIG",
         {"set", "power=off"},
         [&](ScriptedManager& m) {
             connected(m);
             m.expect(QEL_OPCODE_SET_CONFIG);
         },
         3,
         "qelctl: Error waiting for the manager's answer to SET CONFIG: operation timed out\n",
         true},
    };
    for (const Script& script : scripts) {
        QelctlThread command(args(script.args), &waker);
        script.play(*this);
        EXPECT_EQ(runOut(command), script.exit) << script.what;
        EXPECT_EQ(command.err().text(), script.err) << script.what;
        EXPECT_EQ(command.out().text(), "") << script.what;
        EXPECT_EQ(disconnected(), script.disconnects) << script.what;
        peer.drain();
    }
}

TEST_F(ScriptedManager, WatchKeepsTheConnectionAliveAndEndsWhenTheManagerFallsSilent) {
    QelctlThread watch(args({"watch"}), &waker);
    answerConnect();
    sendOptions();
    sendState();
    ASSERT_TRUE(watch.out().waitFor(" state: "));
    clock.advance(11);
    waker.tick();
    expect(TESK2_OPCODE_KEEPALIVE); // after 10 s without a word sent
    clock.advance(21);              // 32 s without a word received
    waker.tick();
    EXPECT_EQ(watch.wait(3000), 3);
    const std::string out = watch.out().text();
    EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1),
              "2023-11-14T22:13:52.000Z connection: lost: no word from the manager for 31 s\n");
    EXPECT_EQ(watch.err().text(),
              "qelctl: lost contact with the manager: no word from the manager for 31 s\n");
}

TEST_F(ScriptedManager, WaitTriesAgainUntilItsTimeRunsOut) {
    peer.close(); // nobody listens: every CONNECT finds the port closed at once
    const QelctlRun run = runQelctl(args({"wait", "--timeout", "2"}), &waker);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err, "qelctl: The QEL Manager service is not available, please try again in a "
                       "few minutes\n");
    EXPECT_EQ(clock.sleeps(), 20u); // a try every 100 ms
}

} // namespace
} // namespace qeltest
