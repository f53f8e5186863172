// The qel-manager program as a whole: started on a free port with its own
// state file, control socket and a fixed interface list; served to the
// panel-side manager client and to a raw peer; its state file across
// restarts; its control commands; its refusals to start; and its ends.
#include "manager_process.h"
#include "manager_wire.h"

#include "control.h"
#include "options_file.h"
#include "scripted_peer.h"
#include "state_file.h"

#include "qel_client.h"
#include "qel_codec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qeltest {
namespace {

using nlohmann::json;

const uint8_t k_eth0[QEL_MAC_SIZE] = {0x00, 0x1b, 0x21, 0x3c, 0x4d, 0x5e};

// The default configuration of the fixed options, as the loader reads it.
qel_config fixedDefaultConfig(const ScratchDir& dir) {
    const std::string path = dir.file("expected-options.json");
    writeFile(path, fixedOptionsJson());
    ManagerOptions options = defaultManagerOptions();
    std::string error;
    EXPECT_TRUE(loadOptionsFile(path, options, error)) << error;
    return options.defaultConfig;
}

// A configuration different from the default one in every field the options
// allow to change.
qel_config otherConfig(const qel_config& base) {
    qel_config config = base;
    config.channels = 16;
    config.sample_rate_hz = 96000;
    config.sample_format = 16;
    std::memset(config.latency, 0, sizeof config.latency);
    std::memcpy(config.latency, "Low", 4);
    config.want_to_run = 1;
    config.audio_interface = QEL_AUDIO_INTERFACE_ASIO;
    config.asio_buffer_size = 128;
    return config;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// Whether a log line (after its time stamp) ends with `text`.
bool hasLine(const std::string& log, const std::string& text) {
    for (const auto& line : lines(log)) {
        if (line.size() >= text.size() &&
            line.compare(line.size() - text.size(), text.size(), text) == 0) {
            return true;
        }
    }
    return false;
}

class ManagerProcessTest : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& extra = {}) {
        m_manager = std::make_unique<ManagerProcess>(m_dir, extra);
        ASSERT_TRUE(m_manager->waitReady()) << m_manager->log();
        ASSERT_NE(m_manager->port(), 0);
    }
    void restart() {
        ASSERT_EQ(m_manager->stop(SIGTERM), 0) << m_manager->log();
        start();
    }

    ScratchDir m_dir;
    std::unique_ptr<ManagerProcess> m_manager;
};

// ---- serving a panel ----

TEST_F(ManagerProcessTest, AcceptsAPanelAndSendsItsOptionsAndState) {
    start();
    EXPECT_TRUE(hasLine(
        m_manager->log(),
        "Info qel-manager: listening on 127.0.0.1:" + std::to_string(m_manager->port()) +
            " (control " + m_manager->controlPath() + ", state " + m_manager->statePath() + ")"))
        << m_manager->log();
    EXPECT_TRUE(hasLine(m_manager->log(), "; using the default configuration"));

    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    qel_client* client = panel.client();
    EXPECT_STREQ(client->info.suffix, "-stand");
    EXPECT_EQ(client->info.major, QEL_VERSION_MAJOR);
    EXPECT_EQ(client->info.minor, QEL_VERSION_MINOR);
    EXPECT_EQ(client->info.build, QEL_VERSION_PATCH);

    ASSERT_EQ(client->options.interfaces.count, 2);
    EXPECT_EQ(std::u16string(client->options.interfaces.entries[0].name), u"eth0");
    EXPECT_EQ(std::u16string(client->options.interfaces.entries[1].name), u"wlan0");
    EXPECT_EQ(std::memcmp(client->options.interfaces.entries[0].mac, k_eth0, QEL_MAC_SIZE), 0);

    const qel_config expected = fixedDefaultConfig(m_dir);
    EXPECT_TRUE(sameConfig(client->state.config, expected));
    EXPECT_EQ(client->state.link_up, 1u);
    EXPECT_EQ(client->state.link_speed, 1000u);
    const uint8_t ip[4] = {192, 168, 1, 20};
    EXPECT_EQ(std::memcmp(client->state.ip_address, ip, 4), 0);
    EXPECT_STREQ(client->state.device_name, "Qelvane");

    const std::string who = "127.0.0.1:" + std::to_string(client->protocol->identity.port);
    EXPECT_TRUE(m_manager->waitForLog("qel-manager: client " + who + " connected"));
    ASSERT_EQ(qel_client_disconnect(client), KES_SUCCESS);
    EXPECT_TRUE(m_manager->waitForLog("qel-manager: client " + who + " disconnected"))
        << m_manager->log();
}

TEST_F(ManagerProcessTest, ValidSetConfigIsAppliedSavedAndKeptAcrossARestart) {
    start();
    const qel_config wanted = otherConfig(fixedDefaultConfig(m_dir));
    {
        Panel panel(m_manager->port());
        ASSERT_TRUE(panel.connect());
        panel.events().clear();
        ASSERT_EQ(qel_client_set_system_config(&wanted, panel.client()), KES_SUCCESS);
        ASSERT_TRUE(panel.pumpUntil([&] { return panel.client()->pending == nullptr; }));
        EXPECT_TRUE(sameConfig(panel.client()->state.config, wanted));
        EXPECT_EQ(panel.events(), std::vector<QelClientEvent>(
                                      {QEL_CLIENT_EVENT_STATE, QEL_CLIENT_EVENT_REQUEST_DONE}));
    }
    qel_config saved{};
    std::string problem;
    ASSERT_EQ(loadStateFile(m_manager->statePath(), saved, problem), StateLoad::Loaded) << problem;
    EXPECT_TRUE(sameConfig(saved, wanted));

    restart();
    EXPECT_TRUE(hasLine(m_manager->log(),
                        "Info qel-manager: configuration loaded from " + m_manager->statePath()));
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    EXPECT_TRUE(sameConfig(panel.client()->state.config, wanted));
}

TEST_F(ManagerProcessTest, InvalidSetConfigIsAnsweredInvalidDataWithTheStateUnchanged) {
    start();
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    const qel_state before = panel.client()->state;
    // The panel believes in a channel count the manager does not offer.
    qel_options& believed = panel.client()->options;
    believed.channel_counts.entries[believed.channel_counts.count++] = 128;
    believed.sample_rates.entries[0].max_channels = 128;
    qel_config wanted = before.config;
    wanted.channels = 128;
    wanted.sample_rate_hz = believed.sample_rates.entries[0].rate_hz;
    ASSERT_EQ(qel_client_set_system_config(&wanted, panel.client()), KES_SUCCESS);
    ASSERT_TRUE(panel.pumpUntil([&] { return panel.client()->pending == nullptr; }));
    EXPECT_TRUE(sameState(panel.client()->state, before));
    EXPECT_TRUE(m_manager->waitForLog("SET CONFIG refused: not valid against the options"));
    qel_config saved{};
    std::string problem;
    EXPECT_EQ(loadStateFile(m_manager->statePath(), saved, problem), StateLoad::Missing);
}

// ---- the state file at start-up ----

TEST_F(ManagerProcessTest, ACorruptStateFileGivesTheDefaultsAndALogLine) {
    const std::string statePath = m_dir.file("state.json");
    writeFile(statePath, "{ \"config\": [1, 2");
    start();
    const std::string log = m_manager->log();
    bool found = false;
    for (const auto& line : lines(log)) {
        if (line.find("Warning qel-manager: " + statePath) != std::string::npos &&
            line.find("; using the default configuration") != std::string::npos) {
            found = true;
        }
    }
    EXPECT_TRUE(found) << log;
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    EXPECT_TRUE(sameConfig(panel.client()->state.config, fixedDefaultConfig(m_dir)));
    // The broken file is left for the user to look at until a change is saved.
    EXPECT_EQ(readFile(statePath), "{ \"config\": [1, 2");
}

TEST_F(ManagerProcessTest, ASavedConfigurationTheOptionsDoNotAllowGivesTheDefaults) {
    qel_config saved = otherConfig(fixedDefaultConfig(m_dir));
    saved.sample_rate_hz = 12345;
    std::string error;
    ASSERT_TRUE(saveStateFile(m_dir.file("state.json"), saved, error)) << error;
    start();
    EXPECT_TRUE(hasLine(m_manager->log(),
                        "Warning qel-manager: " + m_manager->statePath() +
                            ": the saved configuration is not valid against the options; using "
                            "the default configuration"))
        << m_manager->log();
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    EXPECT_TRUE(sameConfig(panel.client()->state.config, fixedDefaultConfig(m_dir)));
}

// ---- raw datagrams ----

TEST_F(ManagerProcessTest, MalformedDatagramsAreLoggedAndTheOthersStillServed) {
    start();
    ScriptedPeer peer;
    kes_address manager{};
    ASSERT_EQ(kes_address_set_ipv4(&manager, KES_FAMILY_IPV4, "127.0.0.1", m_manager->port()),
              KES_SUCCESS);
    peer.setDestination(manager);
    const FakeClient me{peer.port(), {}};

    peer.sendBytes(std::vector<uint8_t>(7, 0x55));
    peer.sendBytes(messageBytes(0x2002, 1, TESK2_OPCODE_CONNECT, 0, connectBody()));
    peer.sendBytes(requestBytes(me, 2, TESK2_OPCODE_CONNECT, connectBody()));
    Datagram answer;
    ASSERT_TRUE(peer.receive(answer));
    EXPECT_EQ(answer.seqnum, 2);
    EXPECT_EQ(answer.status, TESK2_STATUS_RESPONSE);
    const std::string who = "127.0.0.1:" + std::to_string(peer.port());
    EXPECT_TRUE(hasLine(m_manager->log(), "Warning qel-manager: dropped a datagram from " + who +
                                              ": too short (7 < 20 bytes)"));
    EXPECT_TRUE(hasLine(m_manager->log(), "Warning qel-manager: dropped a datagram from " + who +
                                              ": protocol 0x2002 is not 0x1001"));
}

TEST_F(ManagerProcessTest, ModesChangeWhatARawPeerIsAnswered) {
    start();
    ScriptedPeer peer;
    kes_address manager{};
    ASSERT_EQ(kes_address_set_ipv4(&manager, KES_FAMILY_IPV4, "127.0.0.1", m_manager->port()),
              KES_SUCCESS);
    peer.setDestination(manager);
    const FakeClient me{peer.port(), {}};
    Datagram answer;

    ASSERT_EQ(m_manager->ctl({"refuse", "on"}).exitCode, 0);
    peer.sendBytes(requestBytes(me, 1, TESK2_OPCODE_CONNECT, connectBody()));
    ASSERT_TRUE(peer.receive(answer));
    EXPECT_EQ(answer.status, TESK2_STATUS_TOO_MANY_CLIENTS);
    ASSERT_EQ(m_manager->ctl({"refuse", "off"}).exitCode, 0);

    ASSERT_EQ(m_manager->ctl({"notconnected", "on"}).exitCode, 0);
    peer.sendBytes(requestBytes(me, 2, TESK2_OPCODE_CONNECT, connectBody()));
    ASSERT_TRUE(peer.receive(answer));
    EXPECT_EQ(answer.status, TESK2_STATUS_NOT_CONNECTED);
    ASSERT_EQ(m_manager->ctl({"notconnected", "off"}).exitCode, 0);

    ASSERT_EQ(m_manager->ctl({"silent", "on"}).exitCode, 0);
    peer.sendBytes(requestBytes(me, 3, TESK2_OPCODE_CONNECT, connectBody()));
    // The ctl round trip below is served after the datagram (one loop).
    ASSERT_EQ(m_manager->ctl({"silent", "off"}).exitCode, 0);
    EXPECT_TRUE(peer.idle());

    peer.sendBytes(requestBytes(me, 4, TESK2_OPCODE_CONNECT, connectBody()));
    ASSERT_TRUE(peer.receive(answer));
    EXPECT_EQ(answer.seqnum, 4);
    EXPECT_EQ(answer.status, TESK2_STATUS_RESPONSE);
}

// ---- control commands ----

TEST_F(ManagerProcessTest, ControlCommandsChangeTheStateThePanelSees) {
    start();
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    qel_client* client = panel.client();

    struct Case {
        std::vector<std::string> args;
        std::function<bool()> seen;
    };
    const Case cases[] = {
        {{"error", "0x0201"}, [&] { return client->state.system_error == 0x0201; }},
        {{"error", "768"}, [&] { return client->state.system_error == 0x0300; }},
        {{"error", "0256"}, [&] { return client->state.system_error == 0x0100; }},
        {{"error", "0X0401"}, [&] { return client->state.system_error == 0x0401; }},
        {{"error", "0"}, [&] { return client->state.system_error == 0; }},
        {{"lock", "0x0002"}, [&] { return client->state.config_lock_flags == 2; }},
        {{"lock", "0"}, [&] { return client->state.config_lock_flags == 0; }},
        {{"link", "down"}, [&] { return client->state.link_up == 0; }},
        {{"link", "up"}, [&] { return client->state.link_up == 1; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const ProgramRun run = m_manager->ctl(c.args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "ok\n");
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(panel.pumpUntil(c.seen));
    }

    const ProgramRun status = m_manager->ctl({"status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    const json parsed = json::parse(status.out);
    EXPECT_EQ(parsed["port"], m_manager->port());
    ASSERT_EQ(parsed["clients"].size(), 1u);
    EXPECT_EQ(parsed["clients"][0]["address"],
              "127.0.0.1:" + std::to_string(client->protocol->identity.port));
    EXPECT_EQ(parsed["state"]["link_up"], true);
}

TEST_F(ManagerProcessTest, BurstSendsNumberedStatesInPartsAndLeavesTheStateInForce) {
    start();
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());
    const uint8_t* ip = panel.client()->state.ip_address;

    ProgramRun run = m_manager->ctl({"burst", "3"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "3 state events to each of 1 clients, the last with address 10.0.0.3\n");
    EXPECT_TRUE(panel.pumpUntil([&] { return ip[0] == 10 && ip[2] == 0 && ip[3] == 3; }));

    // More than one part; loopback may drop some, so only the count is checked.
    run = m_manager->ctl({"burst", "2001"});
    EXPECT_EQ(run.out,
              "2001 state events to each of 1 clients, the last with address 10.0.7.209\n");
    const ProgramRun status = m_manager->ctl({"status"});
    ASSERT_EQ(status.exitCode, 0) << status.err;
    EXPECT_EQ(json::parse(status.out)["state"]["ip_address"], "192.168.1.20");
}

TEST_F(ManagerProcessTest, ControlCommandErrors) {
    start();
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"error", "zz"}, "qel-manager ctl: error: 'zz' is not a number from 0 to 0xffff\n"},
        {{"error", "0x10000"},
         "qel-manager ctl: error: '0x10000' is not a number from 0 to 0xffff\n"},
        {{"error", "-1"}, "qel-manager ctl: error: '-1' is not a number from 0 to 0xffff\n"},
        {{"error", "0x"}, "qel-manager ctl: error: '0x' is not a number from 0 to 0xffff\n"},
        {{"error", "12a"}, "qel-manager ctl: error: '12a' is not a number from 0 to 0xffff\n"},
        {{"error"}, "qel-manager ctl: error: usage: error CODE\n"},
        {{"lock", "1", "2"}, "qel-manager ctl: error: usage: lock FLAGS\n"},
        {{"link", "sideways"}, "qel-manager ctl: error: usage: link up|down\n"},
        {{"silent", "yes"}, "qel-manager ctl: error: usage: silent on|off\n"},
        {{"notconnected"}, "qel-manager ctl: error: usage: notconnected on|off\n"},
        {{"refuse", "1"}, "qel-manager ctl: error: usage: refuse on|off\n"},
        {{"options"}, "qel-manager ctl: error: usage: options FILE\n"},
        {{"status", "now"}, "qel-manager ctl: error: usage: status\n"},
        {{"quit", "now"}, "qel-manager ctl: error: usage: quit\n"},
        {{"burst", "0"}, "qel-manager ctl: error: usage: burst N (a number from 1 to 1000000)\n"},
        {{"burst", "1000001"},
         "qel-manager ctl: error: usage: burst N (a number from 1 to 1000000)\n"},
        {{"burst", "-5"}, "qel-manager ctl: error: usage: burst N (a number from 1 to 1000000)\n"},
        {{"frobnicate"},
         "qel-manager ctl: error: unknown command 'frobnicate' (see qel-manager --help)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const ProgramRun run = m_manager->ctl(c.args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, c.err);
    }
    // Still running and unchanged.
    const ProgramRun status = m_manager->ctl({"status"});
    ASSERT_EQ(status.exitCode, 0);
    EXPECT_EQ(json::parse(status.out)["state"]["system_error"], "0x0000");
}

TEST_F(ManagerProcessTest, OptionsCommandLoadsAFileRelativeToTheCaller) {
    start();
    Panel panel(m_manager->port());
    ASSERT_TRUE(panel.connect());

    ScratchDir elsewhere;
    writeFile(elsewhere.file("wlan-only.json"), R"({
  "interfaces": [{"name": "wlan0", "mac": "02:42:ac:11:00:02", "link": true, "speed": 300,
                  "ipv4": "10.0.0.7"}]
})");
    ProgramRun run = m_manager->ctl({"options", "wlan-only.json"}, elsewhere.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ok\n");
    ASSERT_TRUE(panel.pumpUntil([&] { return panel.client()->options.interfaces.count == 1; }));
    // eth0 stays configured and is reported down.
    ASSERT_TRUE(panel.pumpUntil([&] { return panel.client()->state.link_up == 0; }));
    EXPECT_EQ(std::memcmp(panel.client()->state.config.interface.mac, k_eth0, QEL_MAC_SIZE), 0);

    writeFile(elsewhere.file("broken.json"), "{\"channel_counts\": [8, 4]}");
    run = m_manager->ctl({"options", elsewhere.file("broken.json")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("qel-manager ctl: error: " + elsewhere.file("broken.json") +
                                ": channel_counts[1]",
                            0),
              0u)
        << run.err;
}

TEST_F(ManagerProcessTest, CtlWithoutADaemonSaysSo) {
    const std::string path = m_dir.file("nobody.sock");
    const ProgramRun run = runManagerProgram({"ctl", "status", "--control", path});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qel-manager ctl: no manager is running (" + path + ")\n");
}

// ---- ends ----

TEST_F(ManagerProcessTest, SigtermAndSigintEndItCleanly) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        start();
        Panel panel(m_manager->port());
        ASSERT_TRUE(panel.connect());
        EXPECT_EQ(m_manager->stop(signal), 0);
        EXPECT_TRUE(hasLine(m_manager->log(), std::string("Info qel-manager: ") +
                                                  (signal == SIGTERM ? "SIGTERM" : "SIGINT") +
                                                  " received; stopping"));
        EXPECT_TRUE(hasLine(m_manager->log(), "Info qel-manager: stopped"));
    }
    // The control socket went with it.
    std::string output;
    EXPECT_EQ(runControlCommand(m_manager->controlPath(), {"status"}, output), 2);
}

TEST_F(ManagerProcessTest, QuitEndsIt) {
    start();
    const ProgramRun run = m_manager->ctl({"quit"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "ok\n");
    EXPECT_EQ(m_manager->waitExit(), 0);
    EXPECT_TRUE(hasLine(m_manager->log(), "Info qel-manager: quit requested; stopping"));
}

// ---- refused starts ----

TEST_F(ManagerProcessTest, ABadOptionsFileStopsTheStart) {
    writeFile(m_dir.file("options.json"), "{\"sample_formats\": []}");
    ManagerProcess manager(m_dir);
    EXPECT_EQ(manager.waitExit(), 2);
    const std::string log = manager.log();
    EXPECT_NE(log.find("Error qel-manager: " + manager.optionsPath() + ": sample_formats"),
              std::string::npos)
        << log;
}

TEST_F(ManagerProcessTest, APortInUseStopsTheStart) {
    ScriptedPeer taken;
    ManagerProcess manager(m_dir, {}, taken.port());
    EXPECT_EQ(manager.waitExit(), 1);
    EXPECT_TRUE(
        hasLine(manager.log(), "Error qel-manager: 127.0.0.1:" + std::to_string(taken.port()) +
                                   " is already in use (is another manager running?)"))
        << manager.log();
}

TEST_F(ManagerProcessTest, ASecondManagerOnTheSameControlSocketStops) {
    start();
    ScratchDir other;
    const ProgramRun run =
        runManagerProgram({"--port", "0", "--options", m_manager->optionsPath(), "--state",
                           other.file("state.json"), "--control", m_manager->controlPath()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Error qel-manager: " + m_manager->controlPath() +
                           ": another manager is already running"),
              std::string::npos)
        << run.err;
    // The first one is unharmed.
    EXPECT_EQ(m_manager->ctl({"status"}).exitCode, 0);
}

TEST(ManagerProgram, HelpDescribesEveryOptionAndCommand) {
    const ProgramRun run = runManagerProgram({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* word :
         {"--port N", "--options FILE", "--state FILE", "--control PATH", "-v", "--help", "status",
          "error CODE", "lock FLAGS", "link up|down", "silent on|off", "notconnected on|off",
          "refuse on|off", "options FILE", "burst N", "quit", "127.0.0.1", "8899"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
}

TEST(ManagerProgram, BadCommandLinesAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--frobnicate"}, "qel-manager: unknown option '--frobnicate' (see qel-manager --help)\n"},
        {{"--port"}, "qel-manager: --port needs a value (see qel-manager --help)\n"},
        {{"--port", "65536"},
         "qel-manager: --port needs a number from 0 to 65535, not '65536' (see qel-manager "
         "--help)\n"},
        {{"--port", "0x20"},
         "qel-manager: --port needs a number from 0 to 65535, not '0x20' (see qel-manager "
         "--help)\n"},
        {{"--state", ""}, "qel-manager: --state needs a value (see qel-manager --help)\n"},
        {{"ctl"}, "qel-manager ctl: no command (see qel-manager --help)\n"},
        {{"ctl", "status", "--control"}, "qel-manager ctl: --control needs a path\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const ProgramRun run = runManagerProgram(c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, c.err);
    }
}

} // namespace
} // namespace qeltest
